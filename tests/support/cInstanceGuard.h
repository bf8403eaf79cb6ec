#ifndef CINSTANCEGUARD_H
#define CINSTANCEGUARD_H

#include <QString>

// The program's single-instance guard as a suite sees it, without taking part in it. On Unix
// the guard's segment is keyed by a file in the temporary folder of the program that made it.
class cInstanceGuard
{
public:
    // Programs attached to the guard's segment; -1 when there is none. On Windows, where a
    // segment lives only while a program holds it, 1 for a segment that exists.
    static int attachments();
    // Removes the segment a killed instance leaves on Unix. "tempFolder" is that instance's
    // temporary folder, when it was not the suite's own.
    static void removeLeftover(const QString &tempFolder = QString());
    // The key that the guard's key file gives now; -1 without that file, and always on
    // Windows, where no file keys a segment.
    static int key();
    // Removes the segment keyed KEY, when nobody holds it.
    static void removeSegment(int key);
};

#endif // CINSTANCEGUARD_H
