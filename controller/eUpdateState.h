#ifndef EUPDATESTATE_H
#define EUPDATESTATE_H

#include <cstdint>

// What the window shows; QML compares the value with the numbers 0 to 3.
enum eUpdateState : std::int32_t
{
    eUpdateReady = 0,
    eUpdateInProgress = 1,
    eUpdateSucceeded = 2,
    eUpdateFailed = 3,
};

#endif // EUPDATESTATE_H
