#include "directions/web/form_submission.h"

#include "directions/web/charset.h"
#include "directions/web/html_document.h"
#include "directions/web/html_element.h"

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
    const HtmlDocument* document = form.ownerDocument();
    // Controls outside the form can join it through their form attribute, which
    // names the form's id; only then is the whole page searched.
    const bool searchPage = !form.getAttribute(u"id"_s).isEmpty();
    const HtmlNode* root = searchPage ? static_cast<const HtmlNode*>(document->documentElement()) : &form;
    for (const HtmlNode* n = searchPage ? root : root->firstChild(); n; n = n->nextInTree(root)) {
        const HtmlElement* e = n->asElement();
        if (!e || !isListedControl(e->tagName())) {
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
            entries.push_back({ prefix + u'x', u"0"_s });
            entries.push_back({ prefix + u'y', u"0"_s });
            continue;
        }
        if (name.isEmpty()) {
            continue;
        }
        if (tag == u"select") {
            for (const HtmlElement* option : e->selectedOptions()) {
                if (!option->hasAttribute(u"disabled"_s)) {
                    entries.push_back({ name, option->value() });
                }
            }
        } else if (tag == u"input" && type == u"file") {
            entries.push_back({ name, QString(), true });
        } else if (tag == u"input" && type == u"hidden"
            && name.compare(u"_charset_", Qt::CaseInsensitive) == 0 && !e->hasAttribute(u"value"_s)) {
            entries.push_back({ name, QString::fromLatin1(formCharset(form)) });
        } else if (tag == u"input" && type != u"checkbox" && type != u"radio") {
            // A one-line field holds no line breaks, whatever was assigned to it.
            QString value = e->value();
            value.remove(u'\r').remove(u'\n');
            entries.push_back({ name, value });
        } else {
            entries.push_back({ name, e->value() });
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

std::optional<NavigationRequest> buildFormSubmission(const HtmlElement& form, const HtmlElement* submitter)
{
    const HtmlDocument* document = form.ownerDocument();
    const QString method
        = submissionAttribute(form, submitter, u"method"_s, u"formmethod"_s).trimmed().toLower();
    if (method == u"dialog") {
        return std::nullopt;
    }
    const QString action = submissionAttribute(form, submitter, u"action"_s, u"formaction"_s).trimmed();
    QUrl target = action.isEmpty() ? document->url() : document->baseUrl().resolved(QUrl(action));
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() || !(scheme == u"http" || scheme == u"https" || scheme == u"file")) {
        return std::nullopt;
    }

    const QByteArray charsetName = formCharset(form);
    const std::vector<FormEntry> entries = constructEntryList(form, submitter);
    NavigationRequest request;
    if (method != u"post") {
        target.setQuery(QString::fromLatin1(urlEncodeEntries(entries, charsetName)), QUrl::StrictMode);
        request.url = target;
        return request;
    }
    request.url = target;
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
