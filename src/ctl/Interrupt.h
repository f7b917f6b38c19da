#pragma once
// Ctrl+C (SIGINT) and SIGTERM as a Qt signal, delivered by the event loop:
// the run decides what to finish first. Made once in main() before anything
// else starts a thread.

#include <QObject>

namespace qim::ctl {

class Interrupt : public QObject {
    Q_OBJECT
public:
    explicit Interrupt(QObject* parent = nullptr);
    ~Interrupt() override;

Q_SIGNALS:
    void interrupted();

private:
    struct Private;
    Private* d;
};

} // namespace qim::ctl
