#pragma once
// Pictures that show a state, drawn by our own code so they stay crisp at
// any scale. The state is the integer property `state` (LED and contact:
// 0 off, 1 on; scan animation: the picture number 1..6) and is also said in
// the accessible description, for tests and screen readers.

#include <QWidget>

namespace qim {

class StatePicture : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int state READ state WRITE setState)
public:
    enum class Kind {
        Led,          // 0 dark red, 1 lit red
        Contact,      // 0 open contact, 1 closed contact
        ScanAnimation // 1 idle, 2..6 the animation frames
    };
    explicit StatePicture(Kind kind, QWidget* parent = nullptr);

    int state() const { return m_state; }
    void setState(int state);
    Kind kind() const { return m_kind; }

    QSize sizeHint() const override { return {32, 32}; }
    QSize minimumSizeHint() const override { return {16, 16}; }

    // The picture for a state, for icons and screenshots.
    static void paint(QPainter& p, const QRectF& r, Kind kind, int state);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Kind m_kind;
    int m_state = 0;
};

} // namespace qim
