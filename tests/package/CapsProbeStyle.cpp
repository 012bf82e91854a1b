// A Qt style plugin that, when Qt loads it, writes the CapEff and CapPrm lines of its
// own process's /proc/self/status to the file named by KELVANE_CAPS_PROBE, then hands
// out the Fusion style. The package test puts it on QT_PLUGIN_PATH as any local user
// could: code a user slips into the wizard this way must find no capability left.
#include <QStyleFactory>
#include <QStylePlugin>
#include <fstream>
#include <string>

class CapsProbeStyle : public QStylePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "CapsProbeStyle.json")
public:
    QStyle* create(const QString& key) override {
        if (key.compare(QLatin1String("capsprobe"), Qt::CaseInsensitive) != 0) return nullptr;
        if (const char* out = std::getenv("KELVANE_CAPS_PROBE")) {
            std::ifstream status("/proc/self/status");
            std::ofstream file(out, std::ios::trunc);
            for (std::string line; std::getline(status, line);)
                if (line.rfind("CapEff:", 0) == 0 || line.rfind("CapPrm:", 0) == 0) file << line << '\n';
        }
        return QStyleFactory::create(QStringLiteral("Fusion"));
    }
};

#include "CapsProbeStyle.moc"
