// The drawn pictures and the icon at a device pixel ratio of 2 are painted at
// full resolution, not a 1x picture blown up (blurred or blocky on 4K).
#include "Artwork.h"
#include "Pictures.h"
#include "TestSupport.h"

#include <QIcon>
#include <QTest>

using namespace qim;

namespace {
QImage render(QWidget& w, qreal dpr) {
    QPixmap pm(w.size() * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::white);
    w.render(&pm);
    return pm.toImage();
}
// Pixels of a (2x) that differ clearly from b (1x) with each pixel doubled.
int differingFromDoubled(QImage a, QImage b) {
    a = a.convertToFormat(QImage::Format_RGB32);
    b = b.convertToFormat(QImage::Format_RGB32).scaled(b.size() * 2);
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            n += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                     std::abs(qBlue(p) - qBlue(q)) >
                 48;
        }
    return n;
}
} // namespace

class TestPictures : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qimtest::QuietOffscreenPlatform(); }

    void drawnAtTwiceTheResolution_data() {
        QTest::addColumn<int>("kind"); // -1: the module picture, -2: the icon
        QTest::addColumn<int>("state");
        QTest::newRow("LED on") << int(StatePicture::Kind::Led) << 1;
        QTest::newRow("LED off") << int(StatePicture::Kind::Led) << 0;
        QTest::newRow("contact closed") << int(StatePicture::Kind::Contact) << 1;
        QTest::newRow("contact open") << int(StatePicture::Kind::Contact) << 0;
        // The bus and modules sit on whole pixels; the travelling request does not.
        QTest::newRow("scan frame") << int(StatePicture::Kind::ScanAnimation) << 4;
        QTest::newRow("module picture") << -1 << 0;
        for (int side : {16, 24, 32, 48, 64, 128})
            QTest::addRow("icon %d", side) << -2 << side;
    }
    void drawnAtTwiceTheResolution() {
        QFETCH(int, kind);
        QFETCH(int, state);
        QImage one, two;
        if (kind == -2) {
            one = ProgramIcon().pixmap(QSize(state, state), 1.0).toImage();
            two = ProgramIcon().pixmap(QSize(state, state), 2.0).toImage();
        } else {
            std::unique_ptr<QWidget> w(kind == -1 ? static_cast<QWidget*>(new ModulePicture(72))
                                                  : new StatePicture(StatePicture::Kind(kind)));
            if (auto* p = qobject_cast<StatePicture*>(w.get()))
                p->setState(state);
            one = render(*w, 1);
            two = render(*w, 2);
        }
        QCOMPARE(two.size(), one.size() * 2);
        // Edges drawn at the finer resolution land between the doubled
        // pixels: a blown-up 1x picture would match it almost everywhere.
        QVERIFY(differingFromDoubled(two, one) > (kind == -2 ? state / 2 : one.width()));
    }
};

QIM_TEST_MAIN(TestPictures)
#include "tst_pictures.moc"
