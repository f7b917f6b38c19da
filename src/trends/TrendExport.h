#pragma once
// Writing a trend's samples as CSV, a slice at a time from the event loop
// so a day of samples never freezes the window. The rows are copied when
// the export begins: samples arriving (or aging out) meanwhile change
// nothing in the file. Widget-free.

#include <QObject>
#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace qim {

class TrendStore;

// The time column's text: local time to the millisecond.
QString trendTimeText(qint64 ms);
// A value's text: the shortest that reads back as the stored value, a
// point as decimal separator whatever the locale; empty for none (NaN).
QByteArray trendValueText(double v);

class TrendCsvExport : public QObject {
    Q_OBJECT
public:
    // Rows first..last-1 of the listed series; headers name the value
    // columns in the same order (the time column is "Time").
    TrendCsvExport(const TrendStore& store, int first, int last, const QList<int>& series,
                   const QStringList& headers, QObject* parent = nullptr);
    ~TrendCsvExport() override;

    int rows() const { return static_cast<int>(m_time.size()); }
    // Opens the file and writes it over the next turns of the event loop;
    // finished() tells the outcome. The file appears only when complete.
    void start(const QString& path);

Q_SIGNALS:
    void finished(bool ok, const QString& error);

private:
    void writeSlice();
    void fail(const QString& error);

    std::vector<qint64> m_time;
    std::vector<std::vector<float>> m_values;
    QStringList m_headers;
    std::unique_ptr<QSaveFile> m_file;
    size_t m_next = 0;
};

} // namespace qim
