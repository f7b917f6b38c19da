#include "TrendExport.h"

#include "TrendStore.h"

#include <QDateTime>
#include <QTimer>
#include <charconv>
#include <cmath>

namespace qim {

namespace {
constexpr size_t RowsPerSlice = 5000;

QByteArray csvField(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n'))
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}
} // namespace

QString trendTimeText(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QByteArray trendValueText(double v) {
    if (std::isnan(v))
        return {};
    // Stored as float: the shortest float text is the value the panel showed.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(v),
                                      std::chars_format::fixed);
    return QByteArray(buffer, static_cast<qsizetype>(result.ptr - buffer));
}

TrendCsvExport::TrendCsvExport(const TrendStore& store, int first, int last,
                               const QList<int>& series, const QStringList& headers,
                               QObject* parent)
    : QObject(parent), m_headers(headers) {
    first = std::max(0, first);
    last = std::min(store.size(), last);
    const size_t count = last > first ? static_cast<size_t>(last - first) : 0;
    m_time.reserve(count);
    for (int row = first; row < last; ++row)
        m_time.push_back(store.time(row));
    for (int s : series) {
        std::vector<float> column;
        column.reserve(count);
        for (int row = first; row < last; ++row)
            column.push_back(store.value(s, row));
        m_values.push_back(std::move(column));
    }
}

TrendCsvExport::~TrendCsvExport() = default;

void TrendCsvExport::start(const QString& path) {
    m_file = std::make_unique<QSaveFile>(path);
    if (!m_file->open(QIODevice::WriteOnly)) {
        // Told from the event loop, like every other outcome.
        const QString error = m_file->errorString();
        m_file.reset();
        QTimer::singleShot(0, this, [this, error] { Q_EMIT finished(false, error); });
        return;
    }
    QByteArray header = "Time";
    for (const QString& h : m_headers)
        header += ',' + csvField(h);
    header += "\r\n";
    m_file->write(header);
    m_next = 0;
    QTimer::singleShot(0, this, &TrendCsvExport::writeSlice);
}

void TrendCsvExport::writeSlice() {
    if (!m_file)
        return;
    QByteArray chunk;
    const size_t end = std::min(m_time.size(), m_next + RowsPerSlice);
    for (; m_next < end; ++m_next) {
        chunk += trendTimeText(m_time[m_next]).toLatin1();
        for (const auto& column : m_values) {
            chunk += ',';
            chunk += trendValueText(column[m_next]);
        }
        chunk += "\r\n";
    }
    if (m_file->write(chunk) != chunk.size()) {
        fail(m_file->errorString());
        return;
    }
    if (m_next < m_time.size()) {
        QTimer::singleShot(0, this, &TrendCsvExport::writeSlice);
        return;
    }
    if (!m_file->commit()) {
        fail(m_file->errorString());
        return;
    }
    m_file.reset();
    Q_EMIT finished(true, QString());
}

void TrendCsvExport::fail(const QString& error) {
    if (m_file)
        m_file->cancelWriting();
    m_file.reset();
    Q_EMIT finished(false, error);
}

} // namespace qim
