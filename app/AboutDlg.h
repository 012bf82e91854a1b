// The About box. Its tiny code box watches what is typed into it: the service code
// "580TULIP" typed in a row reveals the hidden service buttons of the pages. How far
// the code has been typed survives closing and reopening the box. It also names the
// folder of the working files, which an installed program keeps per user.
#pragma once

#include <QDialog>

class QLineEdit;
class CFontStatic;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kServiceCode = "580TULIP";

    // filesFolder: where the working files (kelvane.ini, param.jdp ...) are kept.
    explicit CAboutDlg(const QString& filesFolder = {}, QWidget* parent = nullptr);

    QLineEdit* CodeBox() const { return m_codeBox; }
    // Characters of the service code typed in a row so far (process-wide).
    static int CodeProgress();
    static void ResetCodeProgress();

signals:
    void ServiceCodeTyped();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnCodeCharacter(QChar character);

    CFontStatic* m_title;
    QLineEdit* m_codeBox;
};
