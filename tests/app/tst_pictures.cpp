// The drawn pictures at a device pixel ratio of 2: each is painted at the
// screen's full resolution, not a 1x picture blown up (which would look
// blurred or blocky on a 4K screen).
#include "Artwork.h"
#include "Pictures.h"
#include "TestSupport.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QTest>
#include <memory>

using namespace qim;

namespace {

QImage render(QWidget& w, qreal dpr) {
    QPixmap pm(w.size() * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::white);
    w.render(&pm);
    return pm.toImage().convertToFormat(QImage::Format_RGB32);
}

// Pixels of a (2x) that differ clearly from b (1x, each pixel doubled).
int differingFromDoubled(const QImage& a, const QImage& b) {
    const QImage doubled = b.scaled(b.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (doubled.size() != a.size())
        return -1;
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = doubled.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                    std::abs(qBlue(p) - qBlue(q)) >
                48)
                ++n;
        }
    return n;
}

} // namespace

class TestPictures : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qimtest::QuietOffscreenPlatform(); }

    void drawnAtTwiceTheResolution_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("state");
        QTest::newRow("LED on") << int(StatePicture::Kind::Led) << 1;
        QTest::newRow("LED off") << int(StatePicture::Kind::Led) << 0;
        QTest::newRow("contact closed") << int(StatePicture::Kind::Contact) << 1;
        QTest::newRow("contact open") << int(StatePicture::Kind::Contact) << 0;
        // The bus and modules sit on whole pixels (identical at both ratios);
        // the travelling request does not.
        QTest::newRow("scan frame") << int(StatePicture::Kind::ScanAnimation) << 4;
        QTest::newRow("module picture") << -1 << 0;
    }
    void drawnAtTwiceTheResolution() {
        QFETCH(int, kind);
        QFETCH(int, state);
        std::unique_ptr<QWidget> w;
        if (kind < 0) {
            w = std::make_unique<ModulePicture>(72);
        } else {
            auto* p = new StatePicture(static_cast<StatePicture::Kind>(kind));
            p->setState(state);
            w.reset(p);
        }
        const QImage one = render(*w, 1), two = render(*w, 2);
        QCOMPARE(two.size(), w->size() * 2);
        // Edges drawn at the finer resolution land between the doubled
        // pixels: a blown-up 1x picture would match it almost everywhere.
        QVERIFY2(differingFromDoubled(two, one) > two.width() / 2,
                 qPrintable(QString::number(differingFromDoubled(two, one))));
    }

    void windowIconHasEveryResolution() {
        const QIcon icon = ProgramIcon();
        for (int side : {16, 24, 32, 48, 64, 128}) {
            const QPixmap one = icon.pixmap(QSize(side, side), 1.0);
            const QPixmap two = icon.pixmap(QSize(side, side), 2.0);
            QCOMPARE(one.size(), QSize(side, side));
            QCOMPARE(two.size(), QSize(2 * side, 2 * side));
            QVERIFY(differingFromDoubled(two.toImage().convertToFormat(QImage::Format_RGB32),
                                         one.toImage().convertToFormat(QImage::Format_RGB32)) >
                    side / 2);
        }
    }
};

QIM_TEST_MAIN(TestPictures)
#include "tst_pictures.moc"
