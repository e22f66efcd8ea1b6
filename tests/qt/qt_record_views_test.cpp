// View > Factors and View > Progress after a real run: the table holds the
// status file's factors, sorts and copies them; the picture is drawn from
// the run's record on disk.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QTableWidget>
#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>

#include "qt/qt_fixture.h"
#include "qt/qt_record_views.h"

namespace {

using zud::qt::ZudWindow;
using zud_test::QtWindow;

TEST_F(QtWindow, the_factors_table_and_the_progress_picture_come_from_a_real_run)
{
    range.lower = 3001;
    range.upper = 300000;
    ZudWindow window(parts(true));
    window.logic().initialize();
    spin_until([&] { return !window.logic().running(); });
    ASSERT_EQ(window.logic().outcome(), zud::RunOutcome::completed);
    const std::string status = read_file("ZudStatus.dat");
    std::string lines;   // the factor lines, in the file's (ascending p) order
    for (std::size_t at = status.find(" | "); at != std::string::npos; at = status.find(" | ", at + 1)) {
        const std::size_t begin = status.rfind('\n', at) + 1;
        lines += status.substr(begin, status.find('\n', at) + 1 - begin);
    }
    ASSERT_FALSE(lines.empty());

    QAction* open_factors = window.findChild<QAction*>(QStringLiteral("view_factors"));
    ASSERT_NE(open_factors, nullptr);
    open_factors->trigger();
    auto* factors = window.findChild<zud::qt::FactorsView*>();
    ASSERT_NE(factors, nullptr);
    QTableWidget* table = factors->table();
    EXPECT_EQ(static_cast<std::size_t>(table->rowCount()), static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n')));
    for (int row = 0; row < table->rowCount(); ++row) {
        EXPECT_FALSE(table->item(row, 3)->text().isEmpty()) << "no time for row " << row;
    }
    // Sorted by n, largest first, as a click on the heading twice does.
    table->sortByColumn(2, Qt::DescendingOrder);
    for (int row = 1; row < table->rowCount(); ++row) {
        EXPECT_GE(table->item(row - 1, 2)->data(Qt::DisplayRole).toInt(), table->item(row, 2)->data(Qt::DisplayRole).toInt());
    }
    // Copy with nothing chosen: every factor, as the file writes them.
    table->sortByColumn(0, Qt::AscendingOrder);
    factors->copy_rows();
    // (Factors of one p may come in either order.)
    const auto sorted_lines = [](const std::string& text) {
        std::vector<std::string> out;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(sorted_lines(QApplication::clipboard()->text().toStdString()), sorted_lines(lines));
    table->selectRow(0);
    const std::string chosen = factors->copied_text().toStdString();
    EXPECT_EQ(chosen.substr(0, 5), lines.substr(0, 5));
    EXPECT_EQ(std::count(chosen.begin(), chosen.end(), '\n'), 1);

    QAction* open_progress = window.findChild<QAction*>(QStringLiteral("view_progress"));
    ASSERT_NE(open_progress, nullptr);
    open_progress->trigger();
    auto* progress = window.findChild<zud::qt::ProgressView*>();
    ASSERT_NE(progress, nullptr);
    EXPECT_GE(progress->picture()->history().reached.size(), 2u);
    const QImage picture = progress->picture()->grab().toImage();
    const QRgb line = progress->picture()->palette().color(QPalette::Highlight).rgb();
    int drawn = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            drawn += picture.pixel(x, y) == line;
    EXPECT_GT(drawn, 50) << "no line in the picture";
    window.logic().close_request();
}

}  // namespace
