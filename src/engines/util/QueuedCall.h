#pragma once
// Queues a call of an invokable member on its object's thread, from any thread.
//
// Why by name: the functor and member-pointer forms of QMetaObject::invokeMethod hand Qt a
// shared slot object and drop the poster's reference after posting. When the receiving thread
// has already run the call, that drop frees the object on the posting thread, ordered only by
// Qt's own atomics; ThreadSanitizer reports the free as a race and, in GCC 12's runtime, crashes
// while reporting it. A call by name posts one event that the receiving thread alone owns, reads
// and frees, and the poster never touches it again.
#include <QMetaObject>
#include <QObject>

namespace quaverly {

// `member` names a slot or Q_INVOKABLE function of `target` taking no arguments (private ones
// too); a name that matches none is a programming error, caught by the assertion.
inline void queueCall(QObject* target, const char* member) {
    [[maybe_unused]] const bool queued =
        QMetaObject::invokeMethod(target, member, Qt::QueuedConnection);
    Q_ASSERT_X(queued, "queueCall", member);
}

} // namespace quaverly
