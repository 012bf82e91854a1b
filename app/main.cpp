#include "app/KelvaneApp.h"

int main(int argc, char** argv) {
    CKelvaneApp app(argc, argv);
    return app.InitInstance();
}
