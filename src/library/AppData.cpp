#include "library/AppData.h"

#include "capture/LinkRules.h"
#include "capture/SavePipeline.h"
#include "core/Account.h"
#include "core/Errors.h"
#include "core/Ids.h"
#include "library/OxleAPI.h"

#include <algorithm>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace oxle {

AppData::AppData(Account &account, OxleAPI &api, QObject *parent)
    : QObject(parent)
    , m_account(account)
    , m_api(api)
{
}

QCoro::Task<std::optional<OxleSession>> AppData::session()
{
    // Signed out or a failed refresh: the caller returns without a request and without a message.
    try {
        co_return co_await m_account.validSession();
    } catch (...) {
        co_return std::nullopt;
    }
}

void AppData::setError(const std::exception &error)
{
    if (const auto *known = dynamic_cast<const Error *>(&error))
        m_errorText = known->description();
    else
        m_errorText = QString::fromLocal8Bit(error.what());
    Q_EMIT errorTextChanged();
}

void AppData::clearPendingSelect()
{
    if (!m_pendingSelect)
        return;
    m_pendingSelect.reset();
    Q_EMIT pendingSelectChanged();
}

void AppData::clearErrorText()
{
    if (!m_errorText)
        return;
    m_errorText.reset();
    Q_EMIT errorTextChanged();
}

bool AppData::isShared(const Item &item) const
{
    return item.categoryId && m_sharedCategoryIDs.contains(*item.categoryId);
}

QString AppData::listName(const QString &categoryID) const
{
    for (const Category &category : m_categories)
        if (category.id == categoryID)
            return category.name;
    return fallbackListName;
}

QString AppData::listSymbol(const std::optional<QString> &icon)
{
    struct Rule
    {
        std::initializer_list<const char *> tokens;
        const char *symbol;
    };
    static const Rule rules[] = {
        {{"sparkles"}, "sparkles"},
        {{"play", "video", "film", "movie", "youtube"}, "play.rectangle.fill"},
        {{"book", "bookOpen", "bookmark"}, "book.fill"},
        {{"headphones", "music", "musicNote", "spotify"}, "music.note"},
        {{"mic", "microphone", "podcast"}, "mic.fill"},
        {{"image", "photo", "camera", "instagram"}, "photo.fill"},
        {{"star"}, "star.fill"},
        {{"heart"}, "heart.fill"},
        {{"coffee"}, "cup.and.saucer.fill"},
        {{"brain"}, "brain.head.profile"},
        {{"lightbulb", "idea", "bulb"}, "lightbulb.fill"},
        {{"briefcase", "work", "job"}, "briefcase.fill"},
        {{"graduationCap", "study", "learning", "school"}, "graduationcap.fill"},
        {{"dumbbell", "fitness", "gym"}, "dumbbell.fill"},
        {{"plane", "travel", "flight"}, "airplane"},
        {{"cart", "shopping", "bag"}, "cart.fill"},
        {{"code", "developer", "terminal"}, "chevron.left.forwardslash.chevron.right"},
        {{"pizza", "food", "restaurant"}, "fork.knife"},
        {{"cake", "party", "birthday"}, "gift.fill"},
    };
    const QString token = icon.value_or(QString());
    for (const Rule &rule : rules)
        for (const char *candidate : rule.tokens)
            if (token == QLatin1String(candidate))
                return QString::fromLatin1(rule.symbol);
    return u"circle.fill"_s;
}

// --- Loading -------------------------------------------------------------------------------------------------

QCoro::Task<bool> AppData::loadCategories()
{
    const auto session = co_await this->session();
    if (!session)
        co_return false;

    QList<Category> own;
    try {
        own = co_await m_api.fetchCategories(*session);
    } catch (const std::exception &error) {
        setError(error);
        co_return false;
    }

    QSet<QString> ownIDs;
    for (const Category &category : own)
        ownIDs.insert(category.id);

    // A failure of either membership read means no shared lists, without a message: the own lists still show.
    QList<Category> shared;
    try {
        const QStringList memberIDs = co_await m_api.fetchMemberListIDs(*session);
        QStringList candidates;
        for (const QString &id : memberIDs)
            if (!ownIDs.contains(id))
                candidates.append(id);
        shared = co_await m_api.fetchCategoriesByID(*session, candidates);
    } catch (const std::exception &) {
        shared.clear();
    }

    QSet<QString> sharedIDs;
    QList<Category> merged = std::move(own);
    merged.reserve(merged.size() + shared.size());
    for (Category &category : shared) {
        // The backend answers each id once; a list that is somehow also an own list stays own.
        if (ownIDs.contains(category.id) || sharedIDs.contains(category.id))
            continue;
        sharedIDs.insert(category.id);
        merged.append(std::move(category));
    }

    m_sharedCategoryIDs = std::move(sharedIDs);
    Q_EMIT sharedCategoryIDsChanged();
    m_categories = std::move(merged);
    Q_EMIT categoriesChanged();
    co_return true;
}

QCoro::Task<bool> AppData::loadNotes()
{
    return loadInto([this](OxleSession session) { return m_api.fetchNotes(std::move(session)); },
                    [this](QList<Item> notes) {
                        m_notes = std::move(notes);
                        Q_EMIT notesChanged();
                    });
}

QCoro::Task<bool> AppData::loadInbox()
{
    return loadInto([this](OxleSession session) { return m_api.fetchInbox(std::move(session)); },
                    [this](QList<Item> items) {
                        m_inboxItems = std::move(items);
                        Q_EMIT inboxItemsChanged();
                    });
}

QCoro::Task<bool> AppData::loadCounts()
{
    return loadInto([this](OxleSession session) { return m_api.fetchItemCategories(std::move(session)); },
                    [this](QList<ItemCategoryRow> rows) {
                        m_counts = OxleAPI::countItemsPerList(rows);
                        Q_EMIT countsChanged();
                    });
}

QCoro::Task<bool> AppData::loadItems(QString categoryID)
{
    const auto session = co_await this->session();
    if (!session)
        co_return false;
    const bool shared = isSharedList(categoryID);
    try {
        m_items = shared ? co_await m_api.fetchSharedItems(*session, categoryID)
                         : co_await m_api.fetchItems(*session, categoryID);
    } catch (const std::exception &error) {
        setError(error);
        co_return false;
    }
    Q_EMIT itemsChanged();
    co_return true;
}

QCoro::Task<void> AppData::refreshAll()
{
    co_await loadCategories();
    co_await loadNotes();
    co_await loadInbox();
    co_await loadCounts();
}

// --- Item operations -----------------------------------------------------------------------------------------

QCoro::Task<void> AppData::reloadWhereShown(std::optional<QString> categoryId, bool asNote)
{
    if (asNote)
        co_await loadNotes();
    else if (categoryId)
        co_await loadItems(*categoryId);
    else
        // An inbox item: without this the inbox would keep showing the old state until the next full refresh.
        co_await loadInbox();
}

QCoro::Task<void> AppData::markDone(Item item)
{
    const auto session = co_await this->session();
    if (!session)
        co_return;
    const bool shared = isShared(item);
    try {
        if (shared)
            co_await m_api.setSharedStatus(*session, item.id, ItemStatus::Done);
        else
            co_await m_api.setItemStatus(*session, item.id, ItemStatus::Done);
    } catch (const std::exception &) {
        // Ignored: the reload shows the item as the backend has it.
    }
    co_await reloadWhereShown(item.categoryId, false);
}

QCoro::Task<void> AppData::remove(Item item)
{
    const auto session = co_await this->session();
    if (!session)
        co_return;
    const bool shared = isShared(item);
    try {
        if (shared)
            co_await m_api.removeSharedItem(*session, item.id);
        else
            co_await m_api.deleteItem(*session, item.id);
    } catch (const std::exception &) {
    }
    co_await reloadWhereShown(item.categoryId, !shared && item.contentType == ContentType::Note);
}

QCoro::Task<void> AppData::move(Item item, QString categoryID)
{
    const auto session = co_await this->session();
    if (!session)
        co_return;
    try {
        co_await m_api.moveItem(*session, item.id, categoryID);
    } catch (const std::exception &) {
    }
    // Reload the place the item came from, so it leaves that view.
    co_await reloadWhereShown(item.categoryId, false);
}

QCoro::Task<void> AppData::setReminder(Item item, std::optional<qint64> at)
{
    const auto session = co_await this->session();
    if (!session)
        co_return;
    const bool shared = isShared(item);
    try {
        if (shared)
            co_await m_api.setSharedReminder(*session, item.id, at);
        else
            co_await m_api.setItemReminder(*session, item.id, at);
    } catch (const std::exception &) {
    }
    co_await reloadWhereShown(item.categoryId, item.contentType == ContentType::Note);
}

QCoro::Task<bool> AppData::addText(QString text, QString categoryID)
{
    const auto session = co_await this->session();
    if (!session)
        co_return false;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        co_return false;
    bool saved = true;
    try {
        if (ItemReader::looksLikeLink(trimmed))
            co_await ItemReader::saveLink(&m_api.transport(), *session, trimmed, std::nullopt, categoryID,
                                          std::nullopt);
        else
            co_await ItemReader::saveNote(&m_api.transport(), *session, trimmed, categoryID);
    } catch (const std::exception &) {
        saved = false;
    }
    co_await loadItems(categoryID);
    co_await loadCounts();
    co_return saved;
}

// --- Lists ---------------------------------------------------------------------------------------------------

QCoro::Task<std::optional<QString>> AppData::createList(QString name, QString color, QString icon)
{
    const auto session = co_await this->session();
    if (!session)
        co_return std::nullopt;
    qint64 sortOrder = 0;
    if (!m_categories.isEmpty()) {
        sortOrder = std::ranges::max_element(m_categories, {}, &Category::sortOrder)->sortOrder + 1;
    }
    std::optional<QString> id = makeId();
    try {
        co_await m_api.createCategory(*session, *id, name, color, icon, sortOrder);
    } catch (const std::exception &) {
        id.reset();
    }
    co_await loadCategories();
    co_await loadCounts();
    co_return id;
}

QCoro::Task<void> AppData::updateList(QString id, QString name, QString color, QString icon)
{
    const auto session = co_await this->session();
    if (!session)
        co_return;
    try {
        co_await m_api.updateCategory(*session, id, name, color, icon);
    } catch (const std::exception &) {
    }
    co_await loadCategories();
}

QCoro::Task<void> AppData::deleteList(QString id)
{
    const auto session = co_await this->session();
    if (!session)
        co_return;
    try {
        co_await m_api.deleteCategory(*session, id);
    } catch (const std::exception &) {
    }
    co_await loadCategories();
    co_await loadCounts();
}

QCoro::Task<void> AppData::leaveList(QString id)
{
    const auto session = co_await this->session();
    if (!session)
        co_return;
    try {
        co_await m_api.leaveCategory(*session, id);
    } catch (const std::exception &) {
    }
    co_await loadCategories();
    co_await loadCounts();
}

QCoro::Task<std::optional<QString>> AppData::redeemInvite(QString code)
{
    const auto session = co_await this->session();
    if (!session)
        co_return std::nullopt;
    std::optional<QString> joined;
    try {
        joined = co_await m_api.redeemCategoryInvite(*session, code);
    } catch (const std::exception &) {
        joined.reset();
    }
    co_await loadCategories();
    co_await loadCounts();
    if (joined) {
        m_pendingSelect = joined;
        Q_EMIT pendingSelectChanged();
    }
    co_return joined;
}

// --- Search --------------------------------------------------------------------------------------------------

QCoro::Task<bool> AppData::search(QString query)
{
    const auto session = co_await this->session();
    if (!session) {
        m_searchResults.clear();
        Q_EMIT searchResultsChanged();
        co_return true;
    }
    try {
        m_searchResults = co_await m_api.searchItems(*session, query);
    } catch (const std::exception &error) {
        setError(error);
        co_return false;
    }
    Q_EMIT searchResultsChanged();
    co_return true;
}

// --- Notes ---------------------------------------------------------------------------------------------------

QCoro::Task<std::optional<QString>> AppData::createNote()
{
    const auto session = co_await this->session();
    if (!session)
        co_return std::nullopt;
    std::optional<QString> id;
    try {
        id = co_await m_api.insertNote(*session, QString());
    } catch (const std::exception &) {
        id.reset();
    }
    co_await loadNotes();
    co_return id;
}

QCoro::Task<bool> AppData::updateNote(Item note, QString title, QString text)
{
    const auto session = co_await this->session();
    if (!session)
        co_return false;
    bool saved = true;
    try {
        co_await m_api.updateNote(*session, note.id, title, text);
    } catch (const std::exception &) {
        saved = false;
    }
    co_await loadNotes();
    co_return saved;
}

} // namespace oxle
