#include "platform/main_queue.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace sonaric
{

void MainQueue::async(std::function<void()> work)
{
    // Without an application object there is no main event loop to post to; nothing would ever run it.
    if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

} // namespace sonaric
