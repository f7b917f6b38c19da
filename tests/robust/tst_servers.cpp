// Every write the temperature panel gives reaches the module exactly once,
// whatever kind of Modbus TCP server stands in front of it (many small
// gateways close after every reply), played by a server of our own and by
// the simulator.
#include "../modules/PanelTestKit.h"
#include "TemperaturePanel.h"

#include <QSlider>
#include <QTcpServer>
#include <QTcpSocket>

using namespace qim;
using namespace paneltest;

namespace {

struct Kind {
    int closeAfter = 0;  // replies per connection; 0: keeps it
    int idleCloseMs = 0; // closes a connection idle this long; 0: never
    bool silentWrites = false;
    int closeLateMs = 0; // the close comes this long after the reply, unread requests crossing it
};

// Answers reads with zeros and echoes writes; closes as its kind says.
class KindServer : public QTcpServer {
public:
    explicit KindServer(Kind kind) : m_kind(kind) {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = nextPendingConnection())
                serve(s);
        });
    }
    QList<QPair<int, int>> writes; // function and address, as they arrived
    int connections = 0;
    int crossed = 0; // requests that reached a connection it was closing

private:
    void serve(QTcpSocket* s) {
        ++connections;
        auto* idle = new QTimer(s);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, s, &QTcpSocket::disconnectFromHost);
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        auto replies = std::make_shared<int>(0);
        auto buffer = std::make_shared<QByteArray>();
        auto closing = std::make_shared<bool>(false);
        connect(s, &QTcpSocket::readyRead, this, [=, this] {
            *buffer += s->readAll();
            if (*closing) {
                crossed += buffer->isEmpty() ? 0 : 1;
                return buffer->clear();
            }
            while (buffer->size() >= 8 && buffer->size() >= 6 + qim::wordAt(*buffer, 4)) {
                QByteArray frame = buffer->left(6 + qim::wordAt(*buffer, 4));
                buffer->remove(0, frame.size());
                const int fn = static_cast<uint8_t>(frame[7]);
                if (fn == 5 || fn == 6 || fn == 16) { // a write: its echo, the first 12 bytes
                    writes << qMakePair(fn, int(qim::wordAt(frame, 8)));
                    if (m_kind.silentWrites)
                        continue;
                    frame.truncate(12);
                } else {
                    const int bytes = fn == 1 ? 1 : 2 * qim::wordAt(frame, 10);
                    frame = frame.left(8) + char(bytes) + QByteArray(bytes, '\0');
                }
                frame[5] = char(frame.size() - 6);
                s->write(frame);
                s->flush();
                if (m_kind.closeAfter > 0 && ++*replies % m_kind.closeAfter == 0) {
                    // Anything after the reply is never read.
                    *closing = true;
                    crossed += buffer->isEmpty() ? 0 : 1;
                    buffer->clear();
                    QTimer::singleShot(m_kind.closeLateMs, s, &QTcpSocket::disconnectFromHost);
                    return;
                }
            }
            if (m_kind.idleCloseMs > 0)
                idle->start(m_kind.idleCloseMs);
        });
    }
    Kind m_kind;
};

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestServers : public QObject, PanelFixture {
    Q_OBJECT
    bool idle() const {
        return QTest::qWaitFor([&] { return link->pending() == 0; }, 10000);
    }
    // Between the user's actions: a server that closes idle connections has
    // closed the kept one.
    void settle(const Kind& kind) {
        QVERIFY(idle());
        if (kind.idleCloseMs > 0)
            QTRY_VERIFY_WITH_TIMEOUT(!link->tcpConnected(), 5000);
    }

private Q_SLOTS:
    void initTestCase() { qimtest::quietOffscreenPlatform(); }

    void everyWriteArrivesOnce_data() {
        QTest::addColumn<bool>("simulator");
        QTest::addColumn<Kind>("kind");
        for (bool sim : {false, true}) {
            const char* who = sim ? "simulator" : "test server";
            QTest::addRow("%s closing after every reply", who) << sim << Kind{1, 0, false};
            QTest::addRow("%s closing after every 3rd reply", who) << sim << Kind{3, 0, false};
            if (!sim) // the requests after a reply cross the close: only the first one does
                QTest::addRow("%s closing 20 ms after every reply", who)
                    << sim << Kind{1, 0, false, 20};
            QTest::addRow("%s closing when idle 300 ms", who) << sim << Kind{0, 300, false};
            QTest::addRow("%s keeping its connections", who) << sim << Kind{};
            QTest::addRow("%s never answering a write", who) << sim << Kind{0, 0, true};
        }
    }
    void everyWriteArrivesOnce() {
        QFETCH(bool, simulator);
        QFETCH(Kind, kind);
        QVERIFY(tcpBus());
        qimsim::Module* module = bus->addModule(4, 30);
        bus->setTcpServing({kind.closeAfter, kind.idleCloseMs});
        if (kind.silentWrites)
            for (int fn : {5, 6, 16})
                module->setFault(fn, faultOf(qimsim::Fault::Kind::Silence));
        KindServer own(kind);
        if (!simulator)
            qimtest::configure(*link, [&](LinkSettings& s) { s.port = own.serverPort(); });
        open<TemperaturePanel>(4, 30, dialogs);

        QList<QPair<int, int>> given;
        for (int k = 1; k <= 4; ++k) {
            click(QStringLiteral("Check_Relay%1").arg(k));
            given << qMakePair(5, k - 1);
        }
        settle(kind);
        for (int k = 1; k <= 4; ++k) {
            w<QSlider>(QStringLiteral("Slider_PWM%1").arg(k))->setValue(10 * k);
            given << qMakePair(6, k);
        }
        settle(kind);
        for (int round = 0; round < (kind.silentWrites ? 1 : 3); ++round) {
            click(QStringLiteral("Cmd_Write"));
            given << qMakePair(6, 5) << qMakePair(6, 6) << qMakePair(16, 7);
            settle(kind);
        }
        QList<QPair<int, int>> arrived = own.writes;
        QSet<int> connections;
        if (simulator) {
            arrived.clear();
            for (const qimsim::RequestRecord& r : bus->requests()) {
                if (r.function == 5 || r.function == 6 || r.function == 16)
                    arrived << qMakePair(int(r.function), int(r.start));
                connections << r.connection;
            }
        }
        QCOMPARE(arrived, given); // each once, in order: none lost, none resent
        QCOMPARE(sb(1), kind.silentWrites ? QStringLiteral("Err: 1") : QStringLiteral("Err: 0"));
        if (!kind.silentWrites) {
            scan("0");
            QTRY_VERIFY(polls() >= 30);
            QVERIFY(stop());
            QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        }
        QCOMPARE(messages(), QStringList{});
        // Once seen closing after its replies, a server gets a fresh connection
        // per transaction: no further request crosses its close.
        QVERIFY(own.crossed <= 1);
        if (kind.closeAfter == 0 && kind.idleCloseMs == 0 && !kind.silentWrites)
            QCOMPARE(simulator ? int(connections.size()) : own.connections, 1);
        QVERIFY(closePanel());
    }
};

QIM_TEST_MAIN(TestServers)
#include "tst_servers.moc"
