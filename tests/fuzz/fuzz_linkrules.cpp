// libFuzzer target: the link rules on arbitrary text never crash and keep their invariants.

#include "capture/LinkRules.h"

#include <cstdlib>

namespace IR = oxle::ItemReader;

static void check(bool condition)
{
    if (!condition)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Both as UTF-8 and as raw UTF-16 code units, so lone surrogates get in too.
    const QString texts[] = {
        QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)),
        QString(reinterpret_cast<const QChar *>(data), qsizetype(size / 2)),
    };
    for (const QString &text : texts) {
        const QString canonical = IR::canonicalURL(text);
        const QString domain = IR::sourceDomain(text);
        const QString type = IR::contentType(text);
        IR::looksLikeLink(text);
        check(!type.isEmpty());
        check(!domain.isEmpty() || type == u"link");
        if (IR::detail::parseUrlReference(text)) {
            check(IR::detail::parseUrlReference(canonical).has_value());
            check(IR::sourceDomain(canonical) == domain);
            check(!canonical.contains(u'#'));
            if (!canonical.endsWith(u'/'))
                check(IR::canonicalURL(canonical) == canonical);
        } else {
            check(domain.isEmpty() && type == u"link");
        }
    }
    return 0;
}
