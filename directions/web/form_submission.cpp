#include "directions/web/form_submission.h"

#include "directions/web/charset.h"
#include "directions/web/html_document.h"
#include "directions/web/html_element.h"
#include "directions/web/url_parser.h"

#include <QRandomGenerator>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace tw::web {
namespace {

bool isListedControl(const QString& tag)
{
    return tag == u"input" || tag == u"button" || tag == u"select" || tag == u"textarea";
}

bool isButton(const HtmlElement& e)
{
    if (e.tagName() == u"button") {
        return true;
    }
    if (e.tagName() != u"input") {
        return false;
    }
    const QString t = e.type();
    return t == u"submit" || t == u"image" || t == u"reset" || t == u"button";
}

// `text` with each lone UTF-16 surrogate replaced by U+FFFD, as a browser
// turns script strings into the text a form sends.
QString scalarValues(const QString& text)
{
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out.at(i).isHighSurrogate() && i + 1 < out.size() && out.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (out.at(i).isSurrogate()) {
            out[i] = QChar(QChar::ReplacementCharacter);
        }
    }
    return out;
}

// The text of a textarea with wrap="hard" as it is sent: lines longer than
// `cols` characters are broken after the last space that keeps the line within
// `cols` (the spaces stay at the end of the line), or after `cols` characters
// when a word alone is longer.
QString hardWrapped(const QString& text, int cols)
{
    QString out;
    const QStringList lines = text.split(u'\n');
    for (qsizetype l = 0; l < lines.size(); ++l) {
        if (l > 0) {
            out += u'\n';
        }
        QStringView rest = lines[l];
        while (rest.size() > cols) {
            qsizetype cut = -1;
            for (qsizetype i = cols; i > 0; --i) {
                if (rest.at(i) == u' ') {
                    cut = i;
                    break;
                }
            }
            if (cut < 0) {
                cut = cols;
            } else {
                while (cut < rest.size() && rest.at(cut) == u' ') {
                    ++cut;
                }
                if (cut == rest.size()) {
                    break;
                }
            }
            out += rest.first(cut);
            out += u'\n';
            rest = rest.sliced(cut);
        }
        out += rest;
    }
    return out;
}

// The text direction a dirname entry reports for `control`: its dir
// attribute, "auto" reading the first strong character of its value, else
// the nearest dir attribute around it; left to right by default.
QString directionality(const HtmlElement& control)
{
    for (const HtmlElement* e = &control; e; e = e->parentElement()) {
        const QString dir = e->getAttribute(u"dir"_s).trimmed().toLower();
        if (dir == u"ltr" || dir == u"rtl") {
            return dir;
        }
        if (dir == u"auto" && e == &control) {
            for (const QChar c : control.value()) {
                const auto d = c.direction();
                if (d == QChar::DirL) {
                    return u"ltr"_s;
                }
                if (d == QChar::DirR || d == QChar::DirAL) {
                    return u"rtl"_s;
                }
            }
            return u"ltr"_s;
        }
    }
    return u"ltr"_s;
}

bool takesDirname(const HtmlElement& e)
{
    static const QStringList kTypes
        = { u"text"_s, u"search"_s, u"tel"_s, u"url"_s, u"email"_s, u"password"_s };
    return e.tagName() == u"textarea" || (e.tagName() == u"input" && kTypes.contains(e.type()));
}

bool insideDatalist(const HtmlElement& e)
{
    for (const HtmlElement* p = e.parentElement(); p; p = p->parentElement()) {
        if (p->tagName() == u"datalist") {
            return true;
        }
    }
    return false;
}

// Line breaks (CR LF, lone CR, lone LF) as CR LF.
QString normaliseLineBreaks(const QString& text)
{
    if (!text.contains(u'\n') && !text.contains(u'\r')) {
        return text;
    }
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            out += u"\r\n";
            if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') {
                ++i;
            }
        } else {
            out += c;
        }
    }
    return out;
}

void percentEncodeInto(QByteArray& out, const QByteArray& bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '*' || b == '-'
            || b == '.' || b == '_') {
            out += static_cast<char>(b);
        } else if (b == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
}

// The attribute of the submitter (formaction, formmethod ...) that overrides the
// form's own, if the submitter is a submit button that has it.
QString submissionAttribute(const HtmlElement& form, const HtmlElement* submitter, const QString& formName,
    const QString& submitterName)
{
    if (submitter && submitter->hasAttribute(submitterName)) {
        return submitter->getAttribute(submitterName);
    }
    return form.getAttribute(formName);
}

QByteArray multipartBody(
    const std::vector<FormEntry>& entries, const QByteArray& charset, const QByteArray& boundary)
{
    auto escapeName = [&](const QString& name) {
        QByteArray encoded = charset::encodeForForm(normaliseLineBreaks(name), charset);
        encoded.replace("\r", "%0D").replace("\n", "%0A").replace("\"", "%22");
        return encoded;
    };
    QByteArray body;
    for (const FormEntry& entry : entries) {
        body
            += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + escapeName(entry.name) + '"';
        if (entry.isFile) {
            body += "; filename=\"\"\r\nContent-Type: application/octet-stream\r\n\r\n\r\n";
            continue;
        }
        body += "\r\n\r\n" + charset::encodeForForm(normaliseLineBreaks(entry.value), charset) + "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    return body;
}

} // namespace

std::vector<FormEntry> constructEntryList(const HtmlElement& form, const HtmlElement* submitter)
{
    std::vector<FormEntry> entries;
    auto add = [&entries](const QString& name, const QString& value, bool isFile = false) {
        entries.push_back({ scalarValues(name), scalarValues(value), isFile });
    };
    // The whole page is searched: controls outside the form join it through
    // their form attribute, or because the parser read them while the form
    // was open after an element around the form had been closed.
    // Outside the form's own subtree only those two kinds are looked at, so
    // controls nested deep elsewhere cost no walk up to the root each.
    const HtmlElement* root = form.ownerDocument()->documentElement();
    const HtmlNode* afterForm = form.nextSkippingChildren(root);
    bool inside = false;
    for (const HtmlNode* n = root; n; n = n->nextInTree(root)) {
        if (n == &form || n == afterForm) {
            inside = n == &form;
        }
        const HtmlElement* e = n->asElement();
        if (!e || !isListedControl(e->tagName())) {
            continue;
        }
        if (!inside && !e->hasAttribute(u"form"_s) && e->parserFormOwner() != &form) {
            continue;
        }
        if (e->formOwner() != &form || insideDatalist(*e) || e->isDisabled()) {
            continue;
        }
        if (isButton(*e) && e != submitter) {
            continue;
        }
        const QString tag = e->tagName();
        const QString type = e->type();
        if (tag == u"input" && (type == u"checkbox" || type == u"radio") && !e->checked()) {
            continue;
        }
        const QString name = e->getAttribute(u"name"_s);
        if (tag == u"input" && type == u"image") {
            const QString prefix = name.isEmpty() ? QString() : name + u'.';
            add(prefix + u'x', u"0"_s);
            add(prefix + u'y', u"0"_s);
            continue;
        }
        if (name.isEmpty()) {
            continue;
        }
        if (tag == u"select") {
            for (const HtmlElement* option : e->selectedOptions()) {
                if (!option->hasAttribute(u"disabled"_s)) {
                    add(name, option->value());
                }
            }
        } else if (tag == u"input" && type == u"file") {
            add(name, QString(), true);
        } else if (tag == u"input" && type == u"hidden"
            && name.compare(u"_charset_", Qt::CaseInsensitive) == 0 && !e->hasAttribute(u"value"_s)) {
            add(name, QString::fromLatin1(formCharset(form)));
        } else if (tag == u"textarea" && e->getAttribute(u"wrap"_s).trimmed().toLower() == u"hard") {
            bool ok = false;
            int cols = e->getAttribute(u"cols"_s).trimmed().toInt(&ok);
            if (!ok || cols <= 0) {
                cols = 20;
            }
            QString text = e->value();
            text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
            add(name, hardWrapped(text, cols));
        } else {
            add(name, e->value());
        }
        const QString dirname = e->getAttribute(u"dirname"_s);
        if (!dirname.isEmpty() && takesDirname(*e)) {
            add(dirname, directionality(*e));
        }
    }
    return entries;
}

QByteArray formCharset(const HtmlElement& form)
{
    const QString accept = form.getAttribute(u"accept-charset"_s);
    for (const QString& label : accept.split(QRegularExpression(u"[\\s,]+"_s), Qt::SkipEmptyParts)) {
        const QByteArray name = charset::canonicalName(label.toLatin1());
        if (!name.isEmpty()) {
            return name.startsWith("utf-16") ? QByteArray("utf-8") : name;
        }
    }
    const QByteArray page = form.ownerDocument()->charset();
    return page.startsWith("utf-16") ? QByteArray("utf-8") : page;
}

QByteArray urlEncodeEntries(const std::vector<FormEntry>& entries, const QByteArray& charset)
{
    QByteArray out;
    for (const FormEntry& entry : entries) {
        if (!out.isEmpty()) {
            out += '&';
        }
        percentEncodeInto(out, charset::encodeForForm(normaliseLineBreaks(entry.name), charset));
        out += '=';
        percentEncodeInto(out, charset::encodeForForm(normaliseLineBreaks(entry.value), charset));
    }
    return out;
}

std::optional<QByteArray> resolveInDocument(const HtmlDocument& document, const QString& href)
{
    QByteArray charset = document.charset();
    if (charset.startsWith("utf-16")) {
        charset = "utf-8";
    }
    // The base is the first <base href>, parsed the same way, else the page.
    const QByteArray page = url::fromQUrl(document.url()).value_or(QByteArray());
    QByteArray base = page;
    for (const HtmlElement* element : document.getElementsByTagName(u"base"_s)) {
        if (element->hasAttribute(u"href"_s)) {
            base = url::resolve(page, element->getAttribute(u"href"_s), charset).value_or(page);
            break;
        }
    }
    return url::resolve(base, href, charset);
}

std::optional<NavigationRequest> buildFormSubmission(const HtmlElement& form, const HtmlElement* submitter)
{
    const HtmlDocument* document = form.ownerDocument();
    const QString method
        = submissionAttribute(form, submitter, u"method"_s, u"formmethod"_s).trimmed().toLower();
    if (method == u"dialog") {
        return std::nullopt;
    }
    const QString action = submissionAttribute(form, submitter, u"action"_s, u"formaction"_s);
    const std::optional<QByteArray> target
        = action.isEmpty() ? url::fromQUrl(document->url()) : resolveInDocument(*document, action);
    if (!target) {
        return std::nullopt;
    }
    const QByteArray scheme = url::scheme(*target);
    if (!(scheme == "http" || scheme == "https" || scheme == "file")) {
        return std::nullopt;
    }

    const QByteArray charsetName = formCharset(form);
    const std::vector<FormEntry> entries = constructEntryList(form, submitter);
    NavigationRequest request;
    if (method != u"post") {
        QByteArray query = urlEncodeEntries(entries, charsetName);
        if (query.isNull()) {
            query = QByteArray(""); // no entries still leave "?"
        }
        request.exactUrl = url::withQuery(*target, query);
        request.url = url::toQUrl(request.exactUrl);
        return request;
    }
    request.exactUrl = *target;
    request.url = url::toQUrl(request.exactUrl);
    request.method = "POST";
    const QString enctype
        = submissionAttribute(form, submitter, u"enctype"_s, u"formenctype"_s).trimmed().toLower();
    if (enctype == u"multipart/form-data") {
        const QByteArray boundary = "----TarnwickleyFormBoundary"
            + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        request.body = multipartBody(entries, charsetName, boundary);
        request.contentType = "multipart/form-data; boundary=" + boundary;
    } else if (enctype == u"text/plain") {
        for (const FormEntry& entry : entries) {
            request.body += charset::encodeForForm(normaliseLineBreaks(entry.name), charsetName) + '='
                + charset::encodeForForm(normaliseLineBreaks(entry.value), charsetName) + "\r\n";
        }
        request.contentType = "text/plain";
    } else {
        request.body = urlEncodeEntries(entries, charsetName);
        request.contentType = "application/x-www-form-urlencoded";
    }
    return request;
}

} // namespace tw::web
