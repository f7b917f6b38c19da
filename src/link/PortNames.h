#pragma once
// "COM1".."COM32" on every system. Outside Windows a COMn resolves, in this
// order, to:
//   1. the target of the entry COMn in the per-user port folder
//      (<runtime dir>/qimtool/ports/), where the simulator publishes its pty
//      and where a user pins a device: ln -s /dev/serial/by-id/... COM1
//   2. otherwise the n-th serial port the system reports, ordered by device
//      path, skipping ttyS placeholders that have no hardware behind them.

#include <QString>
#include <QStringList>

namespace qim::PortNames {

constexpr int PortCount = 32;

QString comName(int n); // "COM" + n
QString portFolder();   // created on demand by Publish

struct Resolution {
    enum Source { None, Pinned, Enumerated };
    QString device; // the path QSerialPort opens; empty when nothing does
    Source source = None;
};
Resolution resolve(int n);

// One line for the connection dialog: which device COMn opens, or that none does.
QString describe(int n);

// Device paths in the order rule 2 counts them: runs of digits compare as numbers, so
// /dev/ttyS2 comes before /dev/ttyS10 and ttyUSB9 before ttyUSB10.
void sortByLocation(QStringList& paths);

// Pins COMn to device (replacing an earlier entry); returns false on failure.
bool publish(int n, const QString& device);
void unpublish(int n, const QString& expectedDevice = {});

} // namespace qim::PortNames
