// A link message posted to a page: the event's type is the message number (0x8001 ...)
// and it carries the message's two parameters.
#pragma once

#include <QEvent>
#include <cstdint>

class CFdpEvent : public QEvent {
public:
    CFdpEvent(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam)
        : QEvent(static_cast<QEvent::Type>(message)), m_wParam(wParam), m_lParam(lParam) {}

    std::uint32_t Message() const { return static_cast<std::uint32_t>(type()); }
    std::uint32_t WParam() const { return m_wParam; }
    std::int32_t LParam() const { return m_lParam; }

private:
    std::uint32_t m_wParam;
    std::int32_t m_lParam;
};
