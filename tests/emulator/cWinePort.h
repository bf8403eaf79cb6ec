#ifndef CWINEPORT_H
#define CWINEPORT_H

// Windows, under Wine: the Orvik's serial port as Windows lists it (USB 0483:5740, "USB Serial
// Device", COM5), written into the registry of the prefix, which Wine's device listing reads.
// Only listed: it cannot be opened. Gone again with the object.
class cWinePort
{
public:
    cWinePort();
    ~cWinePort();
    cWinePort(const cWinePort &) = delete;
    cWinePort &operator=(const cWinePort &) = delete;

    bool list();
    void unlist();
};

#endif // CWINEPORT_H
