// Decoding 2,000 items may cost at most 1.5x a plain QJsonDocument::fromJson of the same bytes.
// Usage: bench_decode [items] [rounds]

#include "core/WireDecoder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>
#include <algorithm>
#include <vector>

using namespace oxle;

namespace {

QByteArray generateItems(int count)
{
    QByteArray json = "[";
    for (int i = 0; i < count; ++i) {
        if (i)
            json += ',';
        const QByteArray n = QByteArray::number(i);
        json += "{\"id\":\"V1StGXR8_Z5jdHi6B-my" + n + "\",\"url\":\"https://www.example.com/articles/" + n
            + "?ref=home\",\"title\":" + (i % 3 ? "\"A reasonably long article title number " + n + "\"" : "null")
            + ",\"note\":" + (i % 5 ? "null" : "\"remember to read this one\"")
            + ",\"source_domain\":\"example.com\",\"content_type\":\"article\",\"category_id\":"
            + (i % 4 ? "\"sb_user-" + n + "\"" : "null")
            + ",\"status\":\"queued\",\"created_at\":" + QByteArray::number(1700000000000LL + i)
            + ",\"reminder_override_at\":" + (i % 7 ? "null" : QByteArray::number(1710000000000LL + i))
            + ",\"thumbnail_url\":\"https://img.example.com/t/" + n + ".jpg\"}";
    }
    json += ']';
    return json;
}

struct Timing
{
    double minimum;
    double median;
};

Timing summarise(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return { times.front(), times[times.size() / 2] };
}

template <typename F> double micros(F &&work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = args.size() > 1 ? args[1].toInt() : 2000;
    const int rounds = args.size() > 2 ? args[2].toInt() : 51;
    const QByteArray json = generateItems(count);

    qsizetype sink = 0;
    // Warm both paths first so neither pays for first-touch page faults of the allocator, then alternate them
    // so that load from other processes falls on both alike.
    sink += QJsonDocument::fromJson(json).array().size() + decodeArray<Item>(json).size();
    std::vector<double> parseTimes;
    std::vector<double> decodeTimes;
    for (int r = 0; r < rounds; ++r) {
        parseTimes.push_back(micros([&] { sink += QJsonDocument::fromJson(json).array().size(); }));
        decodeTimes.push_back(micros([&] { sink += decodeArray<Item>(json).size(); }));
    }
    const Timing parse = summarise(parseTimes);
    const Timing decode = summarise(decodeTimes);

    QTextStream out(stdout);
    out << "items: " << count << ", bytes: " << json.size() << ", rounds: " << rounds << "\n";
    out << "                         minimum     median\n";
    out << "QJsonDocument::fromJson: " << qSetFieldWidth(8) << parse.minimum << qSetFieldWidth(0) << " us "
        << qSetFieldWidth(8) << parse.median << qSetFieldWidth(0) << " us\n";
    out << "decodeArray<Item>:       " << qSetFieldWidth(8) << decode.minimum << qSetFieldWidth(0) << " us "
        << qSetFieldWidth(8) << decode.median << qSetFieldWidth(0) << " us\n";
    out << "ratio (limit 1.5):       " << qSetFieldWidth(8) << decode.minimum / parse.minimum << qSetFieldWidth(0)
        << "    " << qSetFieldWidth(8) << decode.median / parse.median << qSetFieldWidth(0) << "\n";
    return sink == 0 ? 1 : 0;
}
