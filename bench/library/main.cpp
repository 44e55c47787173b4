// Usage: bench_library [rows] [rounds]
// 1. decoding a list response of `rows` items into Items;
// 2. the shared-list merge: decoding `rows` shared rows and `rows` states and merging them into Items.
// Each is printed with its ratio to a plain QJsonDocument::fromJson of the same bytes.

#include "core/WireDecoder.h"
#include "library/OxleAPI.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <vector>

using namespace oxle;

namespace {

QByteArray idOf(int i)
{
    return "V1StGXR8_Z5jdHi6B-" + QByteArray::number(i).rightJustified(3, '0');
}

QByteArray itemFields(int i)
{
    const QByteArray n = QByteArray::number(i);
    return "\"id\":\"" + idOf(i) + "\",\"url\":\"https://www.example.com/articles/" + n + "?ref=home\",\"title\":"
        + (i % 3 ? "\"A reasonably long article title number " + n + "\"" : QByteArray("null"))
        + ",\"note\":" + (i % 5 ? QByteArray("null") : QByteArray("\"remember to read this one\""))
        + ",\"source_domain\":\"example.com\",\"content_type\":\"article\",\"category_id\":\"list-1\""
        + ",\"thumbnail_url\":\"https://img.example.com/t/" + n + ".jpg\",\"created_at\":"
        + QByteArray::number(1700000000000LL + i);
}

QByteArray items(int count)
{
    QByteArray json = "[";
    for (int i = 0; i < count; ++i) {
        json += (i ? ",{" : "{") + itemFields(i) + ",\"status\":\"queued\",\"reminder_override_at\":"
            + (i % 7 ? QByteArray("null") : QByteArray::number(1710000000000LL + i)) + "}";
    }
    return json + "]";
}

QByteArray sharedRows(int count)
{
    QByteArray json = "[";
    for (int i = 0; i < count; ++i)
        json += (i ? ",{" : "{") + itemFields(i) + "}";
    return json + "]";
}

QByteArray states(int count)
{
    // States in reverse order of the rows, so the merge cannot profit from matching positions.
    QByteArray json = "[";
    for (int i = count - 1; i >= 0; --i) {
        json += (i == count - 1 ? "{" : ",{");
        json += "\"shared_item_id\":\"" + idOf(i) + "\",\"status\":\"" + (i % 2 ? "done" : "queued")
            + "\",\"completed_at\":" + (i % 2 ? QByteArray::number(1700000500000LL + i) : QByteArray("null"))
            + ",\"reminder_override_at\":" + (i % 3 ? QByteArray("null") : QByteArray::number(1710000000000LL + i))
            + ",\"deleted_at\":" + (i % 10 ? QByteArray("null") : QByteArray::number(1700000900000LL + i)) + "}";
    }
    return json + "]";
}

double micros(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1000.0;
}

double median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double minimum(const std::vector<double> &times)
{
    return *std::min_element(times.begin(), times.end());
}

struct Pair
{
    std::vector<double> baseline;
    std::vector<double> measured;
};

// Alternates the two so that load from other processes falls on both alike.
Pair measure(int rounds, const std::function<void()> &baseline, const std::function<void()> &work)
{
    baseline();
    work();
    Pair pair;
    for (int r = 0; r < rounds; ++r) {
        pair.baseline.push_back(micros(baseline));
        pair.measured.push_back(micros(work));
    }
    return pair;
}

void report(QTextStream &out, const char *name, const Pair &pair)
{
    out << name << "\n";
    out << "  QJsonDocument::fromJson  min " << minimum(pair.baseline) << " us, median " << median(pair.baseline)
        << " us\n";
    out << "  measured                 min " << minimum(pair.measured) << " us, median " << median(pair.measured)
        << " us\n";
    out << "  ratio                    min " << minimum(pair.measured) / minimum(pair.baseline) << ", median "
        << median(pair.measured) / median(pair.baseline) << "\n";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = args.size() > 1 ? args[1].toInt() : 2000;
    const int rounds = args.size() > 2 ? args[2].toInt() : 51;
    const QByteArray itemBytes = items(count);
    const QByteArray rowBytes = sharedRows(count);
    const QByteArray stateBytes = states(count);

    qsizetype sink = 0;
    const Pair decode = measure(
        rounds, [&] { sink += QJsonDocument::fromJson(itemBytes).array().size(); },
        [&] { sink += decodeArray<Item>(itemBytes).size(); });
    const Pair merge = measure(
        rounds,
        [&] {
            sink += QJsonDocument::fromJson(rowBytes).array().size();
            sink += QJsonDocument::fromJson(stateBytes).array().size();
        },
        [&] {
            sink += OxleAPI::mergeSharedItems(decodeArray<SharedItemRow>(rowBytes), decodeArray<ItemState>(stateBytes))
                        .size();
        });
    const QList<SharedItemRow> rows = decodeArray<SharedItemRow>(rowBytes);
    const QList<ItemState> stateRows = decodeArray<ItemState>(stateBytes);
    std::vector<double> mergeOnly;
    for (int r = 0; r < rounds; ++r)
        mergeOnly.push_back(micros([&] { sink += OxleAPI::mergeSharedItems(rows, stateRows).size(); }));

    QTextStream out(stdout);
    out << "rows: " << count << ", rounds: " << rounds << ", item bytes: " << itemBytes.size()
        << ", shared bytes: " << rowBytes.size() << " + " << stateBytes.size() << "\n";
    report(out, "decode items (decodeArray<Item>)", decode);
    report(out, "shared-list merge (decode rows + decode states + merge)", merge);
    out << "  merge step alone         min " << minimum(mergeOnly) << " us, median " << median(mergeOnly) << " us\n";
    return sink == 0 ? 1 : 0;
}
