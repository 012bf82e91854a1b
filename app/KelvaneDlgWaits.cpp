// Waits of the user-interface thread for the link's answers: the window keeps painting
// and ignores input; a wait ends with the job or at its cap.

#include "app/KelvaneDlg.h"

#include <QEventLoop>
#include <QTimer>

#include "fdp/LinkSession.h"
#include "fdp/FirmwareVersion.h"
#include "fdp/LinkProtocol.h"

namespace {

// The system reads the version answer after a fixed 100 ms. We wait for the request to
// end instead, so a busy machine still gets the real version (a version read as 0.0.0.0
// would let an older file through without the downgrade question); this only bounds the
// wait should the request hang.
constexpr int kVersionWaitCapMs = 2000;

}  // namespace

void CKelvaneDlg::WaitForJobEnd(std::uint8_t job, int capMs) {
    const auto running = [this, job] { return m_frontEnd.Engine() && m_frontEnd.Engine()->CurrentJob() == job; };
    if (!running()) return;
    QEventLoop loop;
    QTimer::singleShot(capMs, &loop, &QEventLoop::quit);
    // An earlier job's end may still be on its way: only the engine says this one ended.
    connect(this, &CKelvaneDlg::JobEnded, &loop, [&] {
        if (!running()) loop.quit();
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

fdp::FirmwareVersion CKelvaneDlg::TargetVersion(std::uint8_t wanted, bool* answered) {
    // Shared with the engine, which may still write the answer after we stop waiting.
    const fdp::SharedBuffer block = fdp::MakeBuffer(fdp::kVersionBlockLen);
    (*block)[0] = wanted;
    m_transferResult = fdp::FdpTimeout;
    const bool accepted = m_frontEnd.GetTargetVersion(block) == 0;
    const std::vector<std::uint8_t> answer =
        accepted ? WaitForAnswer(fdp::JobTransfer, kVersionWaitCapMs, block) : *block;
    const fdp::FirmwareVersion version = fdp::FirmwareVersion::FromAnswer(answer.data(), wanted);
    const bool given = accepted && m_transferResult == fdp::FdpOk;
    // A version the target gave goes into the update history with a download to its area.
    if (given) m_frontEnd.History().SetTargetVersion(wanted == fdp::kVersionWantedProgram ? fdp::KindProgram : fdp::KindBoot, version.Text());
    if (answered) *answered = given;
    return version;
}

std::vector<std::uint8_t> CKelvaneDlg::WaitForAnswer(std::uint8_t job, int capMs, const fdp::SharedBuffer& buffer) {
    WaitForJobEnd(job, capMs);
    return m_engine ? m_engine->Protocol()->CopyAnswer(buffer) : *buffer;
}

void CKelvaneDlg::Pause(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}
