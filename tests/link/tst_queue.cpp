// The one transaction queue, over a transport the test scripts.
#include "Link.h"
#include "TestSupport.h"

#include <QTest>

using namespace qim;
using namespace qimtest;

namespace {
// What the scripted way does with a request: the reply's unit and PDU, the
// transport's verdict, and how the wait ends.
struct Answer {
    QByteArray bytes;
    int16_t status = Status::Ok;
    enum End { Whole, Silent, Closed } end = Whole;
};

// A unit's reply to a read of one register is the unit times 100; a write's
// echoes it.
Answer echo(const Request& r) {
    if (r.isWrite())
        return {QByteArray(1, char(r.unit)) + r.pdu.left(5)};
    const int v = r.unit * 100;
    return {QByteArray(1, char(r.unit)) + "\x03\x02" + char(v >> 8) + char(v & 0xFF)};
}

// A transport the test scripts. Its way, once open, stays open (the next
// request goes out on it, reused) until a wait ends at the timeout, in a bad
// reply or in a close; each answer comes on the next turn of the event loop.
class Scripted : public Transport {
public:
    std::function<Answer(const Request&)> script = echo; // none: the way does not open
    QList<Request> sent;
    QList<bool> sentReused; // per request sent: it went out on a kept way

    QString name() const override { return QStringLiteral("RTU"); }
    QByteArray frame(const Request& r) const override { return char(r.unit) + r.pdu; }
    void open(const LinkSettings&, const Request*) override {
        m_reused = m_open;
        if ((m_open = bool(script)))
            Q_EMIT ready();
        else
            Q_EMIT failed(QString());
    }
    void send(const Request& r, const QByteArray&) override {
        sent << r;
        sentReused << m_reused;
        m_answer = script(r);
        m_got.clear();
        QTimer::singleShot(0, this, [this] {
            if (m_answer.end == Answer::Silent)
                return;
            m_got = m_answer.bytes;
            m_open = m_answer.end != Answer::Closed;
            if (m_open)
                Q_EMIT replied();
            else
                Q_EMIT ended();
        });
    }
    Reply finish(bool final) override {
        m_open = m_open && !final && m_answer.status != Status::WrongLength;
        return {m_answer.status, m_got};
    }
    const QByteArray& received() const override { return m_got; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool reused() const override { return m_reused; }
    int replyTimeoutMs(const LinkSettings& s) const override { return s.serialTimeoutMs; }

private:
    Answer m_answer;
    QByteArray m_got;
    bool m_open = false;
    bool m_reused = false;
};
} // namespace

class TestQueue : public QObject {
    Q_OBJECT
    std::unique_ptr<Scripted> way, unused;
    std::unique_ptr<Link> link;

private Q_SLOTS:
    void init() {
        way = std::make_unique<Scripted>();
        unused = std::make_unique<Scripted>();
        link = std::make_unique<Link>(*way, *unused);
        LinkSettings s;
        s.serialTimeoutMs = 50; // only a silent way waits for it
        link->setSettings(s);
    }
    void cleanup() {
        link.reset();
        QVERIFY(unused->sent.isEmpty());
    }

    // Strictly one after the other, in the order asked, each with the
    // transaction identifier the link had when it was asked (65535 wraps to 0).
    void interleavedRequestersGetTheirOwnReplies() {
        QObject a, b;
        QList<int> gotA, gotB;
        for (int i = 0; i < 3; ++i) {
            link->readHoldingRegisters(
                1, 0, 1, {&a, [&](const Reply& r) { gotA << r.reg(0).value_or(-1); }});
            link->advanceTransaction();
            link->readHoldingRegisters(
                2, 0, 1, {&b, [&](const Reply& r) { gotB << r.reg(0).value_or(-1); }});
        }
        QCOMPARE(link->pending(), 6);
        QTRY_COMPARE(link->pending(), 0);
        QCOMPARE(gotA, (QList<int>{100, 100, 100}));
        QCOMPARE(gotB, (QList<int>{200, 200, 200}));
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(way->sent[i].unit, i % 2 ? 2 : 1);
            QCOMPARE(way->sent[i].transactionId, (i + 1) / 2);
        }
        for (int i = 3; i < 65535; ++i)
            link->advanceTransaction();
        QCOMPARE(link->transactionId(), 65535);
        link->advanceTransaction();
        QCOMPARE(link->transactionId(), 0); // it wraps
    }

    // A window's writes are the link's once given: cancelling the window's
    // requests and destroying it drops its reads only (a read on the wire
    // finishes there, its requester not called). Its writes go out in
    // order, a slider's newest position in place of the one still queued
    // (the same register only), and one that fails with nobody left to tell
    // is told by the link.
    void writesOutliveTheirRequester_data() {
        QTest::addColumn<int>("end"); // how the unit 9 write ends
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shown");
        QTest::newRow("silent") << int(Answer::Silent) << 253 << QStringLiteral("no reply");
        QTest::newRow("exception") << int(Answer::Whole) << 2 << QStringLiteral("exception code 2");
        QTest::newRow("short") << int(Answer::Whole) << 253 << QStringLiteral("wrong length");
    }
    void writesOutliveTheirRequester() {
        QFETCH(int, end);
        QFETCH(int, status);
        QFETCH(QString, shown);
        way->script = [&](const Request& r) {
            return r.unit == 9 ? Answer{"\x09\x90", int16_t(status), Answer::End(end)} : echo(r);
        };
        MessageLog log(*link);
        int calls = 0;
        const auto count = [&calls](const Reply&) { ++calls; };
        std::array<int32_t, 27> image{};
        auto panel = std::make_unique<QObject>();
        auto other = std::make_unique<QObject>();
        link->readHoldingRegisters(1, 0, 1, {panel.get(), count}); // on the wire
        link->readHoldingRegisters(2, 0, 1, {panel.get(), count}); // a poll: cancelled
        link->readHoldingRegisters(3, 0, 1, {other.get(), count}); // destroyed: never sent
        link->writeSingleCoil(1, 2, 0xFF00, {panel.get(), count});
        link->writeSingleRegister(1, 2, 30, {panel.get(), count, 2});
        link->writeSingleRegister(1, 3, 35, {panel.get(), count, 2}); // another register
        link->writeSingleRegister(1, 2, 45, {panel.get(), count, 2});
        link->writeMultipleRegisters(9, 7, 20, image, {panel.get(), count});
        link->cancel(panel.get());
        panel.reset();
        other.reset();
        // Opened again, the window's newer position replaces the one still waiting.
        QObject reopened;
        link->writeSingleRegister(1, 2, 50, {&reopened, count, 2});
        QTRY_COMPARE(link->pending(), 0);
        QCOMPARE(way->sent.size(), 5);
        QCOMPARE(way->sent[1].pdu, QByteArray::fromHex("050002ff00"));
        QCOMPARE(way->sent[2].pdu, QByteArray::fromHex("0600020032"));
        QCOMPARE(way->sent[3].pdu, QByteArray::fromHex("0600030023"));
        QCOMPARE(char(way->sent[4].unit) + way->sent[4].pdu.left(5),
                 QByteArray::fromHex("091000070014"));
        QCOMPARE(calls, 1); // the reopened window's own write, and nothing of the gone one
        QCOMPARE(log.texts,
                 QStringList{QStringLiteral(
                                 " Module 9: the write of holding registers 7 to 26 failed (%1).")
                                 .arg(shown)});
    }

    // A request whose kept way closed before one byte of its reply came back
    // most likely never reached the server: it goes out once more, on a
    // fresh way, writes too (each sets a value: twice is once, lost is
    // wrong). Never after a timeout, after part of a reply, or when it went
    // out on a fresh way.
    void resentOnceWhenItsKeptWayClosed_data() {
        QTest::addColumn<bool>("write");
        QTest::addColumn<QList<Answer>>("answers"); // to the request and its resending
        QTest::addColumn<int>("status");
        const Answer closed{{}, Status::WrongLength, Answer::Closed};
        const Answer part{"\x01\x03", Status::WrongLength, Answer::Closed};
        const Answer silent{{}, Status::WrongLength, Answer::Silent};
        QTest::newRow("write") << true << QList<Answer>{closed, {}} << 255;
        QTest::newRow("closed again") << false << QList<Answer>{closed, closed} << 253;
        QTest::newRow("after part of a reply") << true << QList<Answer>{part} << 253;
        QTest::newRow("after a timeout") << true << QList<Answer>{silent} << 253;
    }
    void resentOnceWhenItsKeptWayClosed() {
        QFETCH(bool, write);
        QFETCH(QList<Answer>, answers);
        QFETCH(int, status);
        QCOMPARE(
            await([this](Requester r) { link->readHoldingRegisters(1, 0, 1, r); }).reply.status,
            255);
        way->script = [&](const Request& r) {
            Answer a = answers.takeFirst();
            return a.end == Answer::Whole ? echo(r) : a;
        };
        const Outcome o =
            write ? await([this](Requester r) { link->writeSingleRegister(1, 6, 7, r); })
                  : await([this](Requester r) { link->readHoldingRegisters(1, 0, 1, r); });
        QCOMPARE(o.reply.status, status);
        QVERIFY(answers.isEmpty());
        QCOMPARE(way->sentReused, (QList<bool>{false, true, false}.first(way->sent.size())));
    }

    void callbacksNeverRunInsideTheCall() {
        way->script = nullptr;
        bool called = false;
        link->readHoldingRegisters(1, 0, 1, {nullptr, [&](const Reply&) { called = true; }});
        QVERIFY(!called);
        QTRY_VERIFY(called);
    }
};

QIM_TEST_GUILESS_MAIN(TestQueue)
#include "tst_queue.moc"
