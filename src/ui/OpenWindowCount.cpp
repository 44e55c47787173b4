#include "ui/OpenWindowCount.h"

namespace oxle {

OpenWindowCount::OpenWindowCount(QObject *parent)
    : QObject(parent)
{ }

void OpenWindowCount::enter()
{
    if (++m_count == 1)
        Q_EMIT anyOpenChanged(true);
}

void OpenWindowCount::leave()
{
    if (m_count == 0)
        return;
    if (--m_count == 0)
        Q_EMIT anyOpenChanged(false);
}

WindowRegistration::WindowRegistration(OpenWindowCount &count)
    : m_count(&count)
{ }

WindowRegistration::~WindowRegistration()
{
    closed();
}

void WindowRegistration::shown()
{
    if (m_registered || !m_count)
        return;
    m_count->enter();
    m_registered = true;
}

void WindowRegistration::closed()
{
    if (!m_registered)
        return;
    if (m_count)
        m_count->leave();
    m_registered = false;
}

} // namespace oxle
