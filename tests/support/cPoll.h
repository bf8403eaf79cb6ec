#ifndef CPOLL_H
#define CPOLL_H

#include <QDeadlineTimer>
#include <QtTest>

// Polls a check that itself takes time (a screenshot, a helper program), which the QTRY
// macros handle badly: they count only their own pauses against the timeout.
class cPoll
{
public:
    template <typename Check> static bool until(Check check, int ms)
    {
        const QDeadlineTimer deadline(ms);
        while (!check()) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(100);
        }
        return true;
    }
};

#endif // CPOLL_H
