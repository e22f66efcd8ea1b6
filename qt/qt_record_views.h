// View > Factors and View > Progress: the range's factors as a table, and
// a picture of how the sieving went, both read from the data folder (the
// status file and the record on disk), so they survive restarts.
#pragma once

#include <QDialog>
#include <QWidget>

#include "app/sieve_history.h"

class QTableWidget;

namespace zud::qt {

class ZudWindow;

// Adds the View menu to the window's menu bar, before Help.
void add_record_views(ZudWindow& window);

// p, k, n and when found; sorted by a click on a heading; Copy (and
// Ctrl+C) puts the chosen rows, or all, on the clipboard as factor lines.
class FactorsView : public QDialog {
    Q_OBJECT
public:
    FactorsView(QWidget* parent, const DataFolder& folder);
    QTableWidget* table() const { return table_; }
    void copy_rows();
    QString copied_text() const;   // what copy_rows puts on the clipboard

private:
    QTableWidget* table_;
};

// Three pictures: p reached over time, the rate over time, and the factors
// found over p.
class ProgressPicture : public QWidget {
    Q_OBJECT
public:
    ProgressPicture(QWidget* parent, SieveHistory history, std::vector<FoundFactor> factors);
    const SieveHistory& history() const { return history_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SieveHistory history_;
    std::vector<FoundFactor> factors_;
};

class ProgressView : public QDialog {
    Q_OBJECT
public:
    ProgressView(QWidget* parent, const DataFolder& folder);
    ProgressPicture* picture() const { return picture_; }

private:
    ProgressPicture* picture_;
};

}  // namespace zud::qt
