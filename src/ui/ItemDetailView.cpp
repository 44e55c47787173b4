#include "ui/ItemDetailView.h"

#include "library/AppData.h"
#include "ui/DisplayRules.h"
#include "ui/ItemActions.h"
#include "ui/ReaderView.h"
#include "ui/ReminderPickerSheet.h"
#include "ui/ReminderPresets.h"
#include "ui/ScreenRules.h"
#include "ui/Symbols.h"
#include "ui/ThumbnailCache.h"
#include "ui/UiContext.h"
#include "ui/UiStyle.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace oxle {

namespace {

QPushButton *actionButton(const QString &text, const QString &symbol, QWidget *parent)
{
    auto *button = new QPushButton(Symbols::icon(symbol), text, parent);
    button->setAccessibleName(text);
    button->setAutoDefault(false);
    // Small controls: five of them share a row in a pane of 320 points.
    button->setStyleSheet(QStringLiteral("QPushButton { padding: 3px 8px; }"));
    button->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    button->setMinimumWidth(0);
    return button;
}

QToolButton *menuButton(const QString &text, const QString &symbol, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setText(text);
    button->setIcon(Symbols::icon(symbol));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setAccessibleName(text);
    button->setMenu(new QMenu(button));
    return button;
}

// The picture scaled to fill the pane's width and 200 high, cut to a rounded rectangle.
QPixmap roundedCover(const QPixmap &source, const QSize &size, qreal dpr)
{
    QPixmap target(size * dpr);
    target.setDevicePixelRatio(dpr);
    target.fill(Qt::transparent);
    QPainter painter(&target);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), 10, 10);
    painter.setClipPath(clip);
    const QPixmap scaled = source.scaled(size * dpr, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    const QPointF offset((size.width() * dpr - scaled.width()) / 2 / dpr, (size.height() * dpr - scaled.height()) / 2 / dpr);
    painter.drawPixmap(QRectF(offset, QSizeF(scaled.size()) / dpr), scaled, QRectF(scaled.rect()));
    return target;
}

} // namespace

ItemDetailView::ItemDetailView(UiContext &context, QWidget *parent)
    : QScrollArea(parent)
    , m_context(context)
{
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMinimumWidth(320);
    setAccessibleName(QStringLiteral("Item detail"));

    auto *content = new QWidget(this);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);
    layout->setAlignment(Qt::AlignTop | Qt::AlignLeft);

    m_image = new QLabel(content);
    m_image->setFixedHeight(200);
    m_image->setMinimumWidth(0);
    m_image->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_image->setAccessibleName(QStringLiteral("Picture"));
    m_title = new QLabel(content);
    m_title->setFont(UiStyle::font(UiStyle::Title2));
    m_title->setWordWrap(true);
    m_title->setMinimumWidth(0);
    m_title->setTextFormat(Qt::PlainText);
    m_title->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_title->setAccessibleName(QStringLiteral("Title"));
    m_domain = new QPushButton(content);
    m_domain->setFlat(true);
    m_domain->setIcon(Symbols::icon(QStringLiteral("safari")));
    m_domain->setFont(UiStyle::font(UiStyle::Subheadline));
    m_domain->setCursor(Qt::PointingHandCursor);
    m_domain->setAccessibleName(QStringLiteral("Open the source"));
    m_domain->setStyleSheet(QStringLiteral("QPushButton { text-align: left; padding: 0; color: palette(link); }"));
    m_note = new QLabel(content);
    m_note->setWordWrap(true);
    m_note->setTextFormat(Qt::PlainText);
    m_note->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_note->setAccessibleName(QStringLiteral("Note"));
    m_reminder = new QLabel(content);
    m_reminder->setFont(UiStyle::font(UiStyle::Caption));
    m_reminder->setAccessibleName(QStringLiteral("Reminder"));
    UiStyle::setSecondary(m_reminder);
    auto *divider = new QFrame(content);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);

    m_open = actionButton(QStringLiteral("Open"), QStringLiteral("safari"), content);
    m_read = actionButton(QStringLiteral("Read"), QStringLiteral("doc.plaintext"), content);
    m_done = actionButton(QStringLiteral("Done"), QStringLiteral("checkmark"), content);
    m_move = oxle::menuButton(QStringLiteral("Move"), QStringLiteral("folder"), content);
    m_remind = oxle::menuButton(QStringLiteral("Remind"), QStringLiteral("bell"), content);
    m_copy = actionButton(QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), content);
    m_share = oxle::menuButton(QStringLiteral("Share"), QStringLiteral("square.and.arrow.up"), content);
    m_remove = actionButton(QStringLiteral("Delete"), QStringLiteral("trash"), content);

    auto *row1 = new QHBoxLayout;
    row1->setSpacing(8);
    for (QWidget *widget : {static_cast<QWidget *>(m_open), static_cast<QWidget *>(m_read), static_cast<QWidget *>(m_done)})
        row1->addWidget(widget);
    row1->addStretch();
    // The second row breaks in two where the pane is too narrow for it (see fitActionRows).
    m_row2 = new QHBoxLayout;
    m_row2->setSpacing(8);
    for (QWidget *widget : {static_cast<QWidget *>(m_move), static_cast<QWidget *>(m_remind),
                            static_cast<QWidget *>(m_copy), static_cast<QWidget *>(m_share),
                            static_cast<QWidget *>(m_remove)})
        m_row2->addWidget(widget);
    m_row2->addStretch();
    m_row3 = new QHBoxLayout;
    m_row3->setSpacing(8);
    m_row3->addStretch();

    layout->addWidget(m_image);
    layout->addWidget(m_title);
    layout->addWidget(m_domain, 0, Qt::AlignLeft);
    layout->addWidget(m_note);
    layout->addWidget(m_reminder);
    layout->addSpacing(2);
    layout->addWidget(divider);
    layout->addSpacing(2);
    layout->addLayout(row1);
    layout->addLayout(m_row2);
    layout->addLayout(m_row3);
    setWidget(content);

    connect(m_domain, &QPushButton::clicked, this, [this] { ItemActions::openLink(m_context, m_item); });
    connect(m_open, &QPushButton::clicked, this, [this] { ItemActions::openLink(m_context, m_item); });
    connect(m_read, &QPushButton::clicked, this, &ItemDetailView::openReader);
    connect(m_done, &QPushButton::clicked, this, [this] { m_context.data.markDone(m_item); });
    connect(m_copy, &QPushButton::clicked, this, [this] { ItemActions::copyLink(m_item); });
    connect(m_remove, &QPushButton::clicked, this, [this] { m_context.data.remove(m_item); });
    if (m_context.thumbnails)
        connect(m_context.thumbnails, &ThumbnailCache::loaded, this, [this](const QString &url) {
            if (m_item.thumbnailUrl && *m_item.thumbnailUrl == url)
                updateThumbnail();
        });
}

QPushButton *ItemDetailView::button(const QString &accessibleName) const
{
    for (QPushButton *button : {m_open, m_read, m_done, m_copy, m_remove})
        if (button->accessibleName() == accessibleName && !button->isHidden())
            return button;
    return nullptr;
}

QToolButton *ItemDetailView::menuButton(const QString &accessibleName) const
{
    for (QToolButton *button : {m_move, m_remind, m_share})
        if (button->accessibleName() == accessibleName && !button->isHidden())
            return button;
    return nullptr;
}

void ItemDetailView::setItem(const Item &item)
{
    m_item = item;
    m_title->setText(item.displayTitle());
    const bool hasDomain = item.sourceDomain && !item.sourceDomain->isEmpty();
    m_domain->setVisible(hasDomain);
    m_domain->setText(item.sourceDomain.value_or(QString()));
    m_domain->setAccessibleName(QStringLiteral("Open %1").arg(item.sourceDomain.value_or(QString())));
    const bool hasNote = item.note && !item.note->isEmpty();
    m_note->setVisible(hasNote);
    m_note->setText(item.note.value_or(QString()));
    m_reminder->setVisible(item.reminderOverrideAt.has_value());
    if (item.reminderOverrideAt)
        m_reminder->setText(DisplayRules::reminderText(*item.reminderOverrideAt));

    const bool shared = ScreenRules::isInSharedList(item, m_context.data.sharedCategoryIDs());
    const ScreenRules::ItemMenu entries = ScreenRules::itemMenu(item, shared);
    m_move->setVisible(entries.moveTo);
    m_remove->setText(entries.detailRemoveLabel);
    m_remove->setAccessibleName(entries.detailRemoveLabel);
    rebuildMenus();
    fitActionRows();
    updateThumbnail();
}

void ItemDetailView::rebuildMenus()
{
    m_move->menu()->clear();
    ItemActions::fillMoveMenu(m_move->menu(), m_context, m_item);
    m_remind->menu()->clear();
    ItemActions::fillRemindMenu(m_remind->menu(), m_context, m_item, [this] { openReminderPicker(); });
    m_share->menu()->clear();
    ItemActions::fillShareMenu(m_share->menu(), m_context, m_item);
}

void ItemDetailView::updateThumbnail()
{
    const bool hasUrl = m_item.thumbnailUrl && QUrl(*m_item.thumbnailUrl).isValid() && !m_item.thumbnailUrl->isEmpty();
    const QPixmap pixmap = hasUrl && m_context.thumbnails ? m_context.thumbnails->pixmap(*m_item.thumbnailUrl) : QPixmap();
    // The space is kept while the picture loads so the pane does not jump; nothing when there is no picture.
    m_image->setVisible(hasUrl);
    if (pixmap.isNull()) {
        m_image->clear();
        return;
    }
    const int width = std::max(100, viewport()->width() - 40);
    m_image->setPixmap(roundedCover(pixmap, QSize(width, 200), devicePixelRatioF()));
}

void ItemDetailView::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    fitActionRows();
    updateThumbnail(); // the picture is as wide as the pane
}

void ItemDetailView::fitActionRows()
{
    // Share and Delete go to a row of their own when the five buttons do not fit beside each other.
    int needed = 0;
    for (QWidget *widget : {static_cast<QWidget *>(m_move), static_cast<QWidget *>(m_remind),
                            static_cast<QWidget *>(m_copy), static_cast<QWidget *>(m_share),
                            static_cast<QWidget *>(m_remove)})
        if (!widget->isHidden())
            needed += widget->sizeHint().width() + m_row2->spacing();
    const bool split = needed > viewport()->width() - 40;
    const bool isSplit = m_row3->indexOf(m_share) >= 0;
    if (split == isSplit)
        return;
    QHBoxLayout *from = split ? m_row2 : m_row3;
    QHBoxLayout *to = split ? m_row3 : m_row2;
    for (QWidget *widget : {static_cast<QWidget *>(m_share), static_cast<QWidget *>(m_remove)}) {
        from->removeWidget(widget);
        to->insertWidget(to->count() - 1, widget); // before the stretch
    }
}

ReaderView *ItemDetailView::openReader()
{
    if (!m_reader) {
        m_reader = new ReaderView(m_item.url, m_item.displayTitle(), m_context.openUrl, this);
        m_reader->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_reader->open();
    return m_reader;
}

ReminderPickerSheet *ItemDetailView::openReminderPicker()
{
    auto *picker = new ReminderPickerSheet(ReminderPresets::pickerInitialDate(m_context.now()), m_context.now, this);
    picker->setAttribute(Qt::WA_DeleteOnClose);
    const Item item = m_item;
    connect(picker, &ReminderPickerSheet::dateChosen, this, [this, item](const QDateTime &value) {
        m_context.data.setReminder(item, value.toMSecsSinceEpoch());
    });
    picker->open();
    return picker;
}

} // namespace oxle
