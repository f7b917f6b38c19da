#pragma once
// frmTraffic: every transaction on the link, one row each, as it happens.

#include "TrafficModel.h"

#include <QTimer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QPushButton;
class QTableView;

namespace qim {

class Link;
class MessagePresenter;

class TrafficWindow : public QWidget {
    Q_OBJECT
public:
    TrafficWindow(Link& link, MessagePresenter& presenter, QWidget* parent = nullptr);

    TrafficModel* model() const { return m_model; }
    TrafficFilter* filter() const { return m_filter; }
    // Writes every row as CSV; false when the file cannot be written.
    bool saveCsv(const QString& path) const;
    QString selectedRowsText() const;

private:
    void onTransaction(const TransactionRecord& r);
    void flush();
    void save();
    void copy();

    MessagePresenter& m_presenter;
    TrafficModel* m_model;
    TrafficFilter* m_filter;
    QTableView* m_table;
    QPushButton* m_pause;
    QComboBox* m_slave;
    QComboBox* m_outcome;
    QList<TransactionRecord> m_pending;
    QTimer m_flush;
};

} // namespace qim
