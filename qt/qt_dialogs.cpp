// Dialog layouts and their OK rules.
#include "qt/qt_dialogs.h"
#include "qt/qt_accessibility.h"

#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBrowser>

#include "engine/search/instruction_set.h"
#include "qt/qt_platform.h"
#include "app/range_entry.h"
#include "app/settings.h"

namespace zud::qt {

namespace {

QFont dialog_font(const char* family)
{
    QFont font(QString::fromLatin1(family), 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QLabel* label(QWidget* parent, const QString& text, QRect rect, Qt::Alignment align = Qt::AlignLeft)
{
    auto* l = new QLabel(text, parent);
    l->setGeometry(rect);
    l->setAlignment(align | Qt::AlignVCenter);
    return l;
}

QPushButton* button(QDialog* parent, const QString& text, QRect rect, bool is_default)
{
    auto* b = new QPushButton(text, parent);
    b->setGeometry(rect);
    b->setDefault(is_default);
    b->setAutoDefault(is_default);
    return b;
}

// A read-only text without border or scroll bars.
QPlainTextEdit* text_field(QWidget* parent, const QString& text, QRect rect)
{
    auto* field = new QPlainTextEdit(text, parent);
    field->setReadOnly(true);
    field->setFrameShape(QFrame::NoFrame);
    field->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    field->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    field->setGeometry(rect);
    field->setFocusPolicy(Qt::NoFocus);
    return field;
}

void fixed_size(QDialog* dialog, const DialogUnits& du, int width, int height, const QString& title)
{
    dialog->setWindowTitle(title);
    dialog->setFixedSize(du.size(width, height));
    dialog->setWindowFlags(dialog->windowFlags() & ~Qt::WindowContextHelpButtonHint);
}

// What is typed stays as typed, even a character a range end cannot hold:
// a refused key would leave another number (1.5 would read 15, one Enter
// from a range ten times off). While the text is not a whole number of
// billions the note beside the field says why, and OK refuses it.
QLineEdit* range_field(QWidget* parent, QLabel* hint)
{
    auto* field = new QLineEdit(parent);
    QObject::connect(field, &QLineEdit::textChanged, hint, [hint](const QString& text) {
        std::int64_t billions = 0;
        std::string reason;
        const bool whole = text.trimmed().isEmpty() || parse_billions(text.toStdString(), billions, reason);
        hint->setText(whole ? QString() : QString::fromStdString(reason));
    });
    return field;
}

// Says why a field was refused, beside it; empty while nothing was. Red that
// stands out from the palette's own background, light or dark.
QLabel* reason_label(QWidget* parent, QRect rect)
{
    auto* l = label(parent, QString(), rect);
    QPalette palette = l->palette();
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    palette.setColor(QPalette::WindowText, dark ? QColor(0xff, 0x8a, 0x80) : QColor(0xb0, 0x00, 0x00));
    l->setPalette(palette);
    return l;
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    base_x_ = (letters / 26 + 1) / 2;
    base_y_ = metrics.height();
}

QRect DialogUnits::rect(int x, int y, int width, int height) const
{
    return {x * base_x_ / 4, y * base_y_ / 8, width * base_x_ / 4, height * base_y_ / 8};
}

QSize DialogUnits::size(int width, int height) const
{
    return {width * base_x_ / 4, height * base_y_ / 8};
}

QString resource_text(const QString& name)
{
    QFile file(QStringLiteral(":/zudsieve/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

RangeDialogQt::RangeDialogQt(QWidget* parent, MessageBox& box) : QDialog(parent), box_(box)
{
    setFont(dialog_font("MS Sans Serif"));
    const DialogUnits du(font());
    // Wider than the bare fields, for the reason beside a refused one.
    // Taller than the bare fields, for the estimate below them.
    fixed_size(this, du, 365, 58, QStringLiteral("Enter the range of p...."));
    label(this, QStringLiteral("Sieve from p="), du.rect(12, 8, 50, 8), Qt::AlignRight);
    label(this, QStringLiteral("billion"), du.rect(125, 8, 50, 8));
    label(this, QStringLiteral("to p="), du.rect(12, 25, 50, 8), Qt::AlignRight);
    label(this, QStringLiteral("billion"), du.rect(125, 25, 50, 8));
    lower_reason_ = reason_label(this, du.rect(152, 8, 150, 8));
    lower_reason_->setObjectName(QStringLiteral("lower_reason"));
    upper_reason_ = reason_label(this, du.rect(152, 25, 150, 8));
    upper_reason_->setObjectName(QStringLiteral("upper_reason"));
    lower_ = range_field(this, lower_reason_);
    lower_->setObjectName(QStringLiteral("lower"));
    lower_->setGeometry(du.rect(65, 7, 56, 12));
    upper_ = range_field(this, upper_reason_);
    upper_->setObjectName(QStringLiteral("upper"));
    upper_->setGeometry(du.rect(65, 24, 56, 12));
    estimate_ = label(this, QString(), du.rect(12, 44, 290, 8));
    estimate_->setObjectName(QStringLiteral("estimate"));
    auto* ok = button(this, QStringLiteral("OK"), du.rect(308, 7, 50, 14), true);
    auto* cancel = button(this, QStringLiteral("Cancel"), du.rect(308, 24, 50, 14), false);
    connect(ok, &QPushButton::clicked, this, &RangeDialogQt::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    describe_controls(*this);
}

void RangeDialogQt::accept()
{
    const RangeCheck check = check_range_entry(lower_->text().toStdString(), upper_->text().toStdString());
    const bool lower_refused = check.verdict == RangeCheck::Verdict::focus_lower;
    const bool upper_refused = check.verdict == RangeCheck::Verdict::focus_upper;
    lower_reason_->setText(lower_refused ? QString::fromStdString(check.reason) : QString());
    upper_reason_->setText(upper_refused ? QString::fromStdString(check.reason) : QString());
    if (lower_refused) {
        lower_->setFocus();
        return;
    }
    if (upper_refused) {
        upper_->setFocus();
        return;
    }
    if (box_.show(check.question, BoxIcon::question, BoxButtons::yes_no, BoxAnswer::no) != BoxAnswer::yes)
        return;
    pmin_ = check.pmin;
    pmax_ = check.pmax;
    QDialog::accept();
}

void RangeDialogQt::set_estimate(RangeDialog::Estimate estimate)
{
    estimate_of_ = std::move(estimate);
    auto update = [this] {
        const RangeCheck check = check_range_entry(lower_->text().toStdString(), upper_->text().toStdString());
        const bool whole = check.verdict == RangeCheck::Verdict::confirm && estimate_of_;
        estimate_->setText(whole ? QString::fromStdString(estimate_of_(check.pmin, check.pmax)) : QString());
    };
    connect(lower_, &QLineEdit::textChanged, this, update);
    connect(upper_, &QLineEdit::textChanged, this, update);
}

bool QtRangeDialog::run(std::int64_t& pmin, std::int64_t& pmax)
{
    if (questions_ended())
        return false;
    RangeDialogQt dialog(parent_, box_);
    dialog.set_estimate(estimate_);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    pmin = dialog.pmin();
    pmax = dialog.pmax();
    return true;
}

AlphaDialog::AlphaDialog(QWidget* parent, double alpha) : QDialog(parent), value_(alpha)
{
    setFont(dialog_font("Arial"));
    const DialogUnits du(font());
    fixed_size(this, du, 311, 93, QStringLiteral("Set alpha"));
    text_field(this, resource_text(QStringLiteral("alpha.txt")), du.rect(7, 7, 241, 65));
    auto* caption = label(this, QStringLiteral("&Alpha:"), du.rect(19, 75, 29, 11), Qt::AlignRight);
    field_ = new QLineEdit(QString::fromStdString(format_alpha(alpha)), this);
    field_->setObjectName(QStringLiteral("alpha"));
    field_->setGeometry(du.rect(53, 74, 49, 12));
    caption->setBuddy(field_);
    reason_ = reason_label(this, du.rect(106, 75, 142, 11));
    reason_->setObjectName(QStringLiteral("alpha_reason"));
    auto* ok = button(this, QStringLiteral("OK"), du.rect(254, 7, 50, 14), true);
    auto* cancel = button(this, QStringLiteral("Cancel"), du.rect(254, 24, 50, 14), false);
    connect(ok, &QPushButton::clicked, this, &AlphaDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    describe_controls(*this);
    field_->setFocus();
}

void AlphaDialog::accept()
{
    const auto accepted = accept_alpha(field_->text().toStdString());
    if (!accepted) {
        reason_->setText(QStringLiteral("between 0.01 and 9.99"));
        field_->clear();
        field_->setFocus();
        return;
    }
    value_ = *accepted;
    QDialog::accept();
}

QDialog* make_about_box(QWidget* parent, InstructionSet set)
{
    auto* dialog = new QDialog(parent);
    dialog->setFont(dialog_font("MS Sans Serif"));
    const DialogUnits du(dialog->font());
    fixed_size(dialog, du, 235, 80, QStringLiteral("About ZudSieve"));
    auto* icon = new QLabel(dialog);
    icon->setPixmap(QPixmap(QStringLiteral(":/zudsieve/zudsieve.png")).scaled(du.size(21, 20), Qt::KeepAspectRatio,
                                                                             Qt::SmoothTransformation));
    icon->setGeometry(du.rect(10, 10, 21, 20));
    label(dialog, QStringLiteral("ZudSieve Version " ZUD_VERSION), du.rect(40, 11, 130, 8));
    label(dialog, QStringLiteral("Copyright (C) 2003-2026 The Zud Project"), du.rect(40, 25, 130, 8));
    label(dialog, QStringLiteral("instruction set: ") + QString::fromLatin1(zud::instruction_set_name(set)),
          du.rect(40, 36, 130, 8));
    auto* licence = label(dialog,
                          QStringLiteral("Free software under the <a href=\"https://www.gnu.org/licenses/gpl-3.0.html\">"
                                         "GNU GPL version 3 or later</a>.<br>"
                                         "The manual: <tt>man zudsieve</tt>; Help &gt; Contents."),
                          du.rect(40, 48, 185, 26));
    licence->setObjectName(QStringLiteral("licence"));
    licence->setTextFormat(Qt::RichText);
    licence->setOpenExternalLinks(true);
    licence->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* ok = button(dialog, QStringLiteral("OK"), du.rect(178, 7, 50, 14), true);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    return dialog;
}

QDialog* make_help_dialog(QWidget* parent)
{
    auto* dialog = new QDialog(parent);
    dialog->setFont(dialog_font("Arial"));
    const DialogUnits du(dialog->font());
    fixed_size(dialog, du, 321, 202, QStringLiteral("Help"));
    auto* text = new QTextBrowser(dialog);
    text->setObjectName(QStringLiteral("help"));
    text->setOpenExternalLinks(true);
    text->setFrameShape(QFrame::NoFrame);
    text->setHtml(resource_text(QStringLiteral("help.html")).replace(QStringLiteral("@VERSION@"), ZUD_VERSION));
    text->setGeometry(du.rect(7, 7, 307, 173));
    auto* ok = button(dialog, QStringLiteral("OK"), du.rect(135, 181, 50, 14), true);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    return dialog;
}

}  // namespace zud::qt
