// Any bytes as a page: detect the charset, parse, write the markup of the whole
// document, and build the submission of every form with each of its controls
// clicked as the submitter; then the same bytes as an address (a form action
// or a Location) against the page's address. Nothing may crash, hang or leak.

#include "directions/web/charset.h"
#include "directions/web/form_submission.h"
#include "directions/web/html_parser.h"
#include "directions/web/url_parser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tw::web;
    // The first byte picks the Content-Type header the page arrives with.
    static const char* const kContentTypes[] = { "text/html", "text/html; charset=utf-8",
        "text/html; charset=iso-8859-1", "text/html; charset=shift_jis", "text/html; charset=utf-16" };
    if (size == 0)
        return 0;
    const char* contentType = kContentTypes[data[0] % 5];
    const QByteArrayView bytes(reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size - 1));

    auto document = parseHtmlBytes(bytes, contentType, QUrl(QStringLiteral("http://127.0.0.1:47800/dd?x=1")));
    const QString markup = document->documentElement()->innerHTML();
    (void)document->documentElement()->outerHTML();

    // The written markup must parse again without trouble too.
    auto reparsed = parseHtml(markup, document->url(), document->charset());
    (void)reparsed->documentElement()->innerHTML();

    int forms = 0;
    for (HtmlElement* form : document->allForms()) {
        if (++forms > 8)
            break;
        (void)buildFormSubmission(*form, nullptr);
        int controls = 0;
        for (HtmlNode* n = form->firstChild(); n && controls < 16; n = n->nextInTree(form)) {
            HtmlElement* e = n->asElement();
            if (!e || (e->tagName() != u"input" && e->tagName() != u"button"))
                continue;
            ++controls;
            (void)buildFormSubmission(*form, e);
        }
    }
    const QString address = QString::fromUtf8(bytes);
    if (const auto resolved = url::resolve("http://127.0.0.1:47800/dd?x=1", address, document->charset())) {
        (void)url::toQUrl(*resolved);
        (void)url::resolve(*resolved, address);
    }
    return 0;
}
