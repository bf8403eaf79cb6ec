#include "cToolProcess.h"

// QProcess starts the tool outside any job object of its own, so the tool outlives the
// updater; the updater has no console whose Ctrl+C could reach it.
cToolProcess::cToolProcess(QObject *parent) : QProcess(parent) {}
