#pragma once
// Connecting Qt signals to event handlers: every handler runs through RunHandler, so an abort ends it
// silently, an error is shown, and no exception crosses the Qt event loop.

#include "host/platform.h"

#include <QObject>
#include <functional>

namespace vnd
{

// Connects signal of sender to handler (arguments of the signal are dropped); context ends the
// connection when destroyed.
template <typename Sender, typename Signal>
QMetaObject::Connection Connect(Sender *sender, Signal signal, const QObject *context,
                                std::function<void()> handler)
{
    return QObject::connect(sender, signal, context,
                            [handler = std::move(handler)](auto &&...) { RunHandler(handler); });
}

} // namespace vnd
