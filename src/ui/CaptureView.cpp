#include "ui/CaptureView.h"

#include "capture/CaptureViewModel.h"
#include "capture/SavePipeline.h"
#include "ui/GrowingTextEdit.h"
#include "ui/UiStyle.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

#include <algorithm>

namespace oxle {

namespace {

// The field's type: a step above the body text, between it and the headings.
QFont fieldFont()
{
    QFont font = UiStyle::font(UiStyle::Body);
    font.setPointSizeF(font.pointSizeF() * 1.25);
    return font;
}

QLabel *statusLine(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(UiStyle::font(UiStyle::Caption));
    UiStyle::setSecondary(label);
    label->setAccessibleName(QStringLiteral("Status"));
    return label;
}

} // namespace

CaptureView::CaptureView(CaptureViewModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_signedIn(new QWidget(this))
    , m_field(new GrowingTextEdit(1, 6, m_signedIn))
    , m_status(statusLine(m_signedIn))
    , m_picker(new QComboBox(m_signedIn))
    , m_save(new QPushButton(QStringLiteral("Save"), m_signedIn))
    , m_signedOut(new QWidget(this))
    , m_apple(new QPushButton(QStringLiteral("Sign in with Apple"), m_signedOut))
    , m_google(new QPushButton(QStringLiteral("Sign in with Google"), m_signedOut))
    , m_signedOutStatus(statusLine(m_signedOut))
{
    setFixedWidth(width);
    setAccessibleName(QStringLiteral("Add to oxle"));

    auto *heading = new QLabel(QStringLiteral("Add to oxle"), this);
    heading->setFont(UiStyle::font(UiStyle::Headline));

    // Signed in: the field, then status, list and Save in one row.
    m_field->setPlaceholderText(QStringLiteral("Paste a link or write a note…"));
    m_field->setFont(fieldFont());
    m_field->setFrameShape(QFrame::NoFrame);
    m_field->viewport()->setAutoFillBackground(false);
    m_field->setAccessibleName(QStringLiteral("Link or note"));
    connect(m_field, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_refreshing)
            m_model.setText(m_field->toPlainText());
    });
    connect(m_field, &GrowingTextEdit::submitted, &m_model, &CaptureViewModel::submit);

    m_picker->setAccessibleName(QStringLiteral("Save to"));
    m_picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_picker->setMaximumWidth(200);
    connect(m_picker, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (m_refreshing || index < 0)
            return;
        const QVariant id = m_picker->itemData(index);
        m_model.setSelectedCategoryID(id.isNull() ? std::nullopt : std::optional<QString>(id.toString()));
    });

    m_save->setAccessibleName(QStringLiteral("Save"));
    m_save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    m_save->setToolTip(QStringLiteral("Save (%1)").arg(m_save->shortcut().toString(QKeySequence::NativeText)));
    m_save->setAutoDefault(false);
    connect(m_save, &QPushButton::clicked, &m_model, &CaptureViewModel::submit);

    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(m_status, 1, Qt::AlignVCenter);
    row->addWidget(m_picker, 0, Qt::AlignVCenter);
    row->addWidget(m_save, 0, Qt::AlignVCenter);

    auto *signedInLayout = new QVBoxLayout(m_signedIn);
    signedInLayout->setContentsMargins(0, 0, 0, 0);
    signedInLayout->setSpacing(12);
    signedInLayout->addWidget(m_field);
    signedInLayout->addLayout(row);

    // Signed out: why, the two providers, and what went wrong last.
    auto *explanation = new QLabel(QStringLiteral("Sign in to save to your oxle account."), m_signedOut);
    explanation->setWordWrap(true);
    UiStyle::setSecondary(explanation);
    for (QPushButton *button : {m_apple, m_google}) {
        button->setAccessibleName(button->text());
        button->setAutoDefault(false);
    }
    connect(m_apple, &QPushButton::clicked, this, [this] { m_model.signIn(QStringLiteral("apple")); });
    connect(m_google, &QPushButton::clicked, this, [this] { m_model.signIn(QStringLiteral("google")); });
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch();
    buttons->addWidget(m_apple);
    buttons->addWidget(m_google);
    buttons->addStretch();

    auto *signedOutLayout = new QVBoxLayout(m_signedOut);
    signedOutLayout->setContentsMargins(0, 0, 0, 0);
    signedOutLayout->setSpacing(12);
    signedOutLayout->addWidget(explanation);
    signedOutLayout->addLayout(buttons);
    signedOutLayout->addWidget(m_signedOutStatus);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    layout->addWidget(heading);
    layout->addWidget(m_signedIn);
    layout->addWidget(m_signedOut);

    setTabOrder(m_field, m_picker);
    setTabOrder(m_picker, m_save);
    setTabOrder(m_apple, m_google);

    connect(&m_model, &CaptureViewModel::changed, this, &CaptureView::refresh);
    refresh();
}

void CaptureView::focusFirstControl()
{
    if (m_model.isSignedIn()) {
        m_field->setFocus(Qt::OtherFocusReason);
        m_field->moveCursor(QTextCursor::End);
    } else {
        m_apple->setFocus(Qt::OtherFocusReason);
    }
}

void CaptureView::refresh()
{
    m_refreshing = true;
    const bool signedIn = m_model.isSignedIn();
    m_signedIn->setVisible(signedIn);
    m_signedOut->setVisible(!signedIn);

    if (m_field->toPlainText() != m_model.text()) {
        m_field->setPlainText(m_model.text());
        m_field->moveCursor(QTextCursor::End);
    }
    refreshPicker();
    m_save->setEnabled(m_model.canSave());
    m_status->setText(m_model.status());
    m_signedOutStatus->setText(m_model.status());
    m_signedOutStatus->setVisible(!m_model.status().isEmpty());
    m_refreshing = false;
}

void CaptureView::refreshPicker()
{
    // Rebuilt only when the lists changed, so that an open popup is not reset by every keystroke.
    QList<std::pair<QVariant, QString>> choices{{QVariant(), ItemReader::defaultListName}};
    for (const Category &category : m_model.userLists())
        choices.append({category.id, category.name});
    // A picked list that a reload no longer returned is still where Save goes: show it under the name the
    // confirmation will use rather than pretend the default is selected.
    const std::optional<QString> &selected = m_model.selectedCategoryID();
    const bool offered = !selected || std::any_of(choices.cbegin(), choices.cend(), [&selected](const auto &choice) {
        return choice.first == QVariant(*selected);
    });
    if (!offered)
        choices.append({*selected, m_model.selectedListName()});
    bool same = m_picker->count() == choices.size();
    for (qsizetype i = 0; same && i < choices.size(); ++i)
        same = m_picker->itemData(int(i)) == choices[i].first && m_picker->itemText(int(i)) == choices[i].second;
    if (!same) {
        m_picker->clear();
        for (const auto &[id, name] : choices)
            m_picker->addItem(name, id);
    }
    const int index = selected ? m_picker->findData(*selected) : 0;
    m_picker->setCurrentIndex(std::max(index, 0));
}

} // namespace oxle
