#include "main_form.h"

#include "address_field.h"
#include "directions_extraction.h"

#include "app/toolkit.h"
#include "directions/web/web_browser.h"
#include "resources/resources.h"
#include "settings/cinifile.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>

#include <algorithm>
#include <array>
#include <exception>
#include <stdexcept>

namespace tw::directions {
namespace {

const QString kSettingsSection = QStringLiteral("config");
const QString kFormName = QStringLiteral("dd");

const QString kLoadingMessage = QStringLiteral("Please wait, loading map interface..");
const QString kResettingMessage = QStringLiteral("Resetting search, please wait..");
const QString kNoResultsMessage = QStringLiteral("No Results found - please wait..");
const QString kSearchCaption = QStringLiteral("Search");
const QString kSearchingCaption = QStringLiteral("Searching..");
const QString kSearchAgainCaption = QStringLiteral("Search Again");
const QString kTryingAgain = QStringLiteral(" Trying again..");
const QString kSearchNotAnswered
    = QStringLiteral(" Your search was not answered; press Search Again to try once more.");

// The base address as the page addresses are built from it: lower case, no
// trailing slash.
QString normalisedBase(const QString& baseAddress)
{
    QString base = baseAddress.toLower();
    while (base.endsWith(u'/'))
        base.chop(1);
    return base;
}

// The head of an address: up to and including its first "?"; empty without one.
QString addressHead(const QString& address)
{
    const qsizetype question = address.indexOf(u'?');
    return question < 0 ? QString() : address.left(question + 1);
}

QFont namedFont(const QString& family, double pointSize)
{
    QFont font(family);
    font.setPointSizeF(pointSize);
    return font;
}

void paintWhite(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Base, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

template <typename Steps> void mainForm::runHandler(const QString& what, Steps&& steps) noexcept
{
    QString reason;
    try {
        steps();
        return;
    } catch (const std::exception& error) {
        reason = QString::fromUtf8(error.what());
    } catch (...) {
        reason = QStringLiteral("An unexpected error occurred.");
    }
    try {
        tw::app::showMessage(this, what + QStringLiteral("\n\n") + reason);
    } catch (...) {
        // Nothing is left to tell the user with; the window goes on as it is.
    }
}

mainForm::mainForm(const QString& baseAddress, WindowFactory syncWindowFactory,
    WindowFactory aboutWindowFactory, QWidget* parent)
    : QWidget(parent)
    , m_baseAddress(normalisedBase(baseAddress))
    , m_directionsPage(normalisedBase(baseAddress) + QStringLiteral("/dd"))
    , m_resultPrefix(normalisedBase(baseAddress) + QStringLiteral("/dd_result?"))
    , m_searchAgainPrefix(normalisedBase(baseAddress) + QStringLiteral("/dd?"))
    , m_syncWindowFactory(std::move(syncWindowFactory))
    , m_aboutWindowFactory(std::move(aboutWindowFactory))
{
    setObjectName(QStringLiteral("mainForm"));
    setWindowTitle(QStringLiteral("Tarnwickley - Directions for the iPod"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
        | Qt::WindowCloseButtonHint);
    paintWhite(this);
    setFixedSize(tw::app::px(4335), tw::app::px(6300));
    move(tw::app::px(945), tw::app::px(1230));
    buildControls();

    WebBrowser1 = new web::WebBrowser(this);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    connect(WebBrowser1, &web::WebBrowser::documentComplete, this, &mainForm::documentComplete);
    connect(WebBrowser1, &web::WebBrowser::navigateComplete2, this, &mainForm::navigateComplete2);
    connect(WebBrowser1, &web::WebBrowser::navigateError, this, &mainForm::navigateError);

    m_retryTimer = new QTimer(this);
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &mainForm::retryTimerElapsed);
}

mainForm::~mainForm() = default;

void mainForm::buildControls()
{
    using tw::app::twipsRect;
    const QFont arial = namedFont(QStringLiteral("Arial"), 8.25);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(twipsRect(120, 0, 4140, 2430));
    Image1->setPixmap(tw::resources::bannerPicture());
    Image1->setScaledContents(true);
    Image1->installEventFilter(this);

    lblX = new QLabel(kLoadingMessage, this);
    lblX->setObjectName(QStringLiteral("lblX"));
    lblX->setGeometry(twipsRect(240, 3120, 3735, 1215));
    lblX->setFont(namedFont(QStringLiteral("Trebuchet MS"), 9.75));
    lblX->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblX->setWordWrap(true);
    paintWhite(lblX);

    const auto makeLabel = [&](const char* name, const char* caption, QRect geometry) {
        auto* label = new QLabel(QString::fromLatin1(caption), this);
        label->setObjectName(QString::fromLatin1(name));
        label->setGeometry(geometry);
        label->setFont(arial);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        paintWhite(label);
        return label;
    };
    const auto makeField = [&](const char* name, QRect geometry) {
        auto* field = new AddressField(this);
        field->setObjectName(QString::fromLatin1(name));
        field->setGeometry(geometry);
        return field;
    };

    lbl_from_addr = makeLabel("lbl_from_addr", "Starting Address", twipsRect(480, 2520, 1935, 225));
    from_addr = makeField("from_addr", twipsRect(480, 2760, 3255, 285));
    lbl_from_addr2
        = makeLabel("lbl_from_addr2", "Starting City / State / Zip", twipsRect(480, 3120, 2415, 255));
    from_city = makeField("from_city", twipsRect(480, 3360, 1695, 285));
    from_state = makeField("from_state", twipsRect(2280, 3360, 375, 285));
    from_zip = makeField("from_zip", twipsRect(2760, 3360, 975, 285));
    lbl_dest_addr = makeLabel("lbl_dest_addr", "Destination Address", twipsRect(480, 3720, 1935, 225));
    dest_addr = makeField("dest_addr", twipsRect(480, 3960, 3255, 285));
    lbl_dest_addr2
        = makeLabel("lbl_dest_addr2", "Destination City / State / Zip", twipsRect(480, 4320, 2415, 255));
    dest_city = makeField("dest_city", twipsRect(480, 4560, 1695, 285));
    dest_state = makeField("dest_state", twipsRect(2280, 4560, 375, 285));
    dest_zip = makeField("dest_zip", twipsRect(2760, 4560, 975, 285));
    from_state->setMaxLength(2);
    dest_state->setMaxLength(2);

    btn_Search = new QPushButton(kSearchCaption, this);
    btn_Search->setObjectName(QStringLiteral("btn_Search"));
    btn_Search->setGeometry(twipsRect(2040, 5040, 1695, 375));
    btn_Search->setEnabled(false);
    connect(btn_Search, &QPushButton::clicked, this, &mainForm::searchClicked);

    // Editable, so the user may shorten or correct the directions before they go
    // to the device; reached by mouse only.
    txtRip = new QPlainTextEdit(this);
    txtRip->setObjectName(QStringLiteral("txtRip"));
    txtRip->setGeometry(twipsRect(240, 2520, 3975, 3015));
    txtRip->setFont(arial);
    txtRip->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtRip->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtRip->setFocusPolicy(Qt::ClickFocus);
    txtRip->setTabChangesFocus(true);
    paintWhite(txtRip);
    txtRip->hide();

    btn_research = new QPushButton(kSearchAgainCaption, this);
    btn_research->setObjectName(QStringLiteral("btn_research"));
    btn_research->setGeometry(twipsRect(120, 5760, 2055, 375));
    connect(btn_research, &QPushButton::clicked, this, &mainForm::researchClicked);

    btn_sync = new QPushButton(QStringLiteral("Add to iPod"), this);
    btn_sync->setObjectName(QStringLiteral("btn_sync"));
    btn_sync->setGeometry(twipsRect(2280, 5760, 1935, 375));
    connect(btn_sync, &QPushButton::clicked, this, &mainForm::syncClicked);

    // Below the Search button, in the space the result buttons use in the
    // result state; it scrolls when the service has more to say than fits.
    txtNotice = new QTextBrowser(this);
    txtNotice->setObjectName(QStringLiteral("txtNotice"));
    txtNotice->setGeometry(twipsRect(240, 5430, 3975, 870));
    txtNotice->setFont(arial);
    txtNotice->setFrameShape(QFrame::NoFrame);
    txtNotice->setOpenLinks(false);
    txtNotice->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtNotice->setFocusPolicy(Qt::ClickFocus);
    txtNotice->document()->setDocumentMargin(0);
    paintWhite(txtNotice);
    txtNotice->hide();
    connect(txtNotice, &QTextBrowser::anchorClicked, this, &mainForm::noticeLinkClicked);

    for (QPushButton* button : { btn_Search, btn_research, btn_sync })
        button->installEventFilter(this);

    const std::array<QWidget*, 11> tabOrder { from_addr, from_city, from_state, from_zip, dest_addr,
        dest_city, dest_state, dest_zip, btn_Search, btn_research, btn_sync };
    for (std::size_t i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

void mainForm::setVisible(bool visible)
{
    if (visible && !m_loaded) {
        m_loaded = true;
        runHandler(QStringLiteral("The window could not finish starting up."), [this] { load(); });
    }
    QWidget::setVisible(visible);
}

bool mainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (pressedByKeyboard(watched, event))
        return true;
    if (watched == Image1 && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && Image1->rect().contains(mouse->position().toPoint()))
            bannerClicked();
    }
    return QWidget::eventFilter(watched, event);
}

QString mainForm::directionsText() const
{
    if (!txtRip->document()->isModified())
        return m_directionsText;
    QString text = txtRip->toPlainText();
    text.replace(u'\n', QStringLiteral("\r\n"));
    return text;
}

// --- Handlers -------------------------------------------------------------

void mainForm::load()
{
    setAddressBlock(Visibility::Hidden);
    btn_Search->hide();
    btn_research->hide();
    btn_sync->hide();

    openDirectionsPage();

    for (AddressField* field :
        { from_addr, from_city, from_state, from_zip, dest_addr, dest_city, dest_state, dest_zip }) {
        pointSettingsAt(field->objectName());
        field->setText(settings().Value());
    }
}

void mainForm::searchClicked()
{
    runHandler(QStringLiteral("The search could not be sent to the directions service."), [this] {
        for (AddressField* field :
            { from_addr, from_city, from_state, from_zip, dest_addr, dest_city, dest_state, dest_zip }) {
            pointSettingsAt(field->objectName());
            settings().Value(field->text());
        }

        const QString space = QStringLiteral(" ");
        formElement(QStringLiteral("addr")).setValue(from_addr->text());
        formElement(QStringLiteral("csz"))
            .setValue(from_city->text() + space + from_state->text() + space + from_zip->text());
        formElement(QStringLiteral("taddr")).setValue(dest_addr->text());
        formElement(QStringLiteral("tcsz"))
            .setValue(dest_city->text() + space + dest_state->text() + space + dest_zip->text());
        formElement(QStringLiteral("getrte")).click();

        btn_Search->setText(kSearchingCaption);
        btn_Search->setEnabled(false);
        showNotice(std::nullopt);
    });
}

void mainForm::researchClicked()
{
    runHandler(QStringLiteral("The search could not be reset."), [this] { resetSearch(kResettingMessage); });
}

void mainForm::syncClicked()
{
    runHandler(QStringLiteral("The sync window could not be opened."),
        [this] { openSingleWindow(m_syncWindow, m_syncWindowFactory); });
}

void mainForm::bannerClicked()
{
    runHandler(QStringLiteral("The About window could not be opened."),
        [this] { openSingleWindow(m_aboutWindow, m_aboutWindowFactory); });
}

void mainForm::documentComplete(const QString& url)
{
    runHandler(QStringLiteral("The page from the directions service could not be read."), [this, &url] {
        const QString address = url.toLower();
        if (address == m_directionsPage) {
            enterEntryState();
            return;
        }
        const QString head = addressHead(address);
        if (head == m_resultPrefix) {
            // The service may answer a request it refuses with its form page
            // and a notice, at the address that was asked for.
            std::optional<ServiceNotice> notice = pageNotice();
            if (notice && holdsTheForm(*WebBrowser1->document()))
                enterSearchAgainState(notice);
            else
                ripDirections();
        } else if (head == m_searchAgainPrefix) {
            enterSearchAgainState(pageNotice());
        }
    });
}

void mainForm::navigateComplete2(const QString& /*url*/)
{
    tw::app::restoreDefaultPointer();
}

void mainForm::navigateError(const QString& /*url*/, int statusCode, web::WebBrowser::Target target)
{
    tw::app::restoreDefaultPointer();
    // A frame that fails (an advertisement, say) leaves its page to complete.
    if (target != web::WebBrowser::Target::Page)
        return;
    runHandler(QStringLiteral("The failed page could not be reported."), [this, statusCode] {
        // The state is read from the controls' own shown flags, so this holds
        // while the window itself is hidden or minimised too.
        if (!lblX->isHidden()) {
            lblX->setText(failureSentence(statusCode) + kTryingAgain);
            m_retryTimer->start(m_failedLoads++ == 0 ? kFirstRetryMs : kRetryMs);
        } else if (!btn_Search->isHidden() && !btn_Search->isEnabled()) {
            // The service's own form page with its notice counts as that page
            // whatever its status; any other failed answer is said as such. The
            // form the search came from stays for the next one.
            const web::HtmlDocument* answer = statusCode >= 400 ? WebBrowser1->errorPage() : nullptr;
            std::optional<ServiceNotice> notice
                = answer != nullptr ? readServiceNotice(*answer) : std::nullopt;
            if (!notice || !holdsTheForm(*answer))
                notice = plainNotice(failureSentence(statusCode) + kSearchNotAnswered);
            enterSearchAgainState(notice);
        }
    });
}

void mainForm::retryTimerElapsed()
{
    runHandler(QStringLiteral("The directions page could not be asked for again."), [this] {
        if (!lblX->isHidden())
            openDirectionsPage();
    });
}

void mainForm::noticeLinkClicked(const QUrl& link)
{
    runHandler(QStringLiteral("The suggested address could not be taken."), [this, &link] {
        bool number = false;
        const int index = link.fragment().toInt(&number);
        if (number && index >= 0)
            takeSuggestion(static_cast<std::size_t>(index));
    });
}

// --- Window procedures ----------------------------------------------------------

void mainForm::resetSearch(const QString& message)
{
    m_retryTimer->stop();
    m_failedLoads = 0;
    m_pendingNotice.reset();
    showNotice(std::nullopt);
    btn_sync->hide();
    btn_Search->setText(kSearchCaption);
    txtRip->hide();
    lblX->setText(message);
    lblX->show();
    setAddressBlock(Visibility::Hidden);
    btn_Search->hide();
    btn_research->hide();
    openDirectionsPage();
}

void mainForm::ripDirections()
{
    web::HtmlDocument* document = WebBrowser1->document();
    web::HtmlElement* root = document != nullptr ? document->documentElement() : nullptr;
    if (root == nullptr)
        throw std::runtime_error("The result page holds no document.");
    const std::optional<QString> text = tw::directions::ripDirections(root->innerHTML());
    if (!text) {
        // Why there are none (no road connects the two), said once the
        // window is back at the entry.
        std::optional<ServiceNotice> reason = pageNotice();
        resetSearch(kNoResultsMessage);
        m_pendingNotice = std::move(reason);
        return;
    }

    setAddressBlock(Visibility::Hidden);
    btn_Search->hide();
    showNotice(std::nullopt);
    btn_research->show();
    btn_sync->show();
    txtRip->show();
    m_directionsText = *text;
    txtRip->setPlainText(m_directionsText);
}

void mainForm::enterEntryState()
{
    m_retryTimer->stop();
    m_failedLoads = 0;
    lblX->hide();
    btn_Search->setEnabled(true);
    setAddressBlock(Visibility::Shown);
    btn_Search->show();
    showNotice(std::exchange(m_pendingNotice, std::nullopt));
    // Typing starts a new address at once: the first field, its text selected
    // (also when the focus only arrives with the window's activation).
    from_addr->setFocus(Qt::OtherFocusReason);
    from_addr->selectAll();
}

void mainForm::enterSearchAgainState(const std::optional<ServiceNotice>& notice)
{
    btn_Search->setEnabled(true);
    btn_Search->setText(kSearchAgainCaption);
    showNotice(notice);
}

std::optional<ServiceNotice> mainForm::pageNotice()
{
    web::HtmlDocument* document = WebBrowser1->document();
    return document != nullptr ? readServiceNotice(*document) : std::nullopt;
}

bool mainForm::holdsTheForm(const web::HtmlDocument& document)
{
    const std::vector<web::HtmlElement*> forms = document.allForms();
    return std::any_of(forms.cbegin(), forms.cend(),
        [](const web::HtmlElement* form) { return form->getAttribute(QStringLiteral("name")) == kFormName; });
}

void mainForm::showNotice(const std::optional<ServiceNotice>& notice)
{
    if (!notice) {
        txtNotice->hide();
        txtNotice->clear();
        m_suggestions.clear();
        return;
    }
    m_suggestions = notice->suggestions;
    txtNotice->setHtml(notice->richText);
    txtNotice->show();
}

void mainForm::takeSuggestion(std::size_t index)
{
    if (index >= m_suggestions.size())
        return;
    const auto fillCityLine
        = [](const QString& line, AddressField* city, AddressField* state, AddressField* zip) {
              const CityStateZip parts = splitCityLine(line);
              city->setText(parts.city);
              state->setText(parts.state);
              zip->setText(parts.zip);
          };
    for (const auto& [name, value] : m_suggestions[index].fields) {
        if (name == u"addr")
            from_addr->setText(value);
        else if (name == u"taddr")
            dest_addr->setText(value);
        else if (name == u"csz")
            fillCityLine(value, from_city, from_state, from_zip);
        else if (name == u"tcsz")
            fillCityLine(value, dest_city, dest_state, dest_zip);
    }
    // Return now searches with the address taken.
    if (!btn_Search->isHidden())
        btn_Search->setFocus(Qt::OtherFocusReason);
}

QString mainForm::failureSentence(int statusCode) const
{
    switch (statusCode) {
    case web::NetworkFailure:
        return QStringLiteral("The directions service at %1 does not answer.").arg(m_baseAddress);
    case web::TimedOut:
        return QStringLiteral("The directions service at %1 did not answer within %2 seconds.")
            .arg(m_baseAddress)
            .arg(WebBrowser1->pageTimeoutMs() / 1000);
    case web::TooManyRedirects:
        return QStringLiteral("The directions service at %1 sends its page round in a loop of redirects.")
            .arg(m_baseAddress);
    case web::PageTooLarge:
        return QStringLiteral("The directions service at %1 sent a page too large to read.")
            .arg(m_baseAddress);
    case web::BadAddress:
        return QStringLiteral("The directions service's address %1 is not one this program can load.")
            .arg(m_baseAddress);
    default:
        break;
    }
    if (statusCode >= 400)
        return QStringLiteral("The directions service at %1 answered with an error (HTTP %2).")
            .arg(m_baseAddress)
            .arg(statusCode);
    return QStringLiteral("The page of the directions service at %1 could not be loaded.").arg(m_baseAddress);
}

bool mainForm::pressedByKeyboard(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    for (QPushButton* button : { btn_Search, btn_research, btn_sync }) {
        if (watched != button)
            continue;
        // Held down, the key presses the button once.
        if (!key->isAutoRepeat() && button->isEnabled() && button->isVisible())
            button->click();
        return true;
    }
    return false;
}

void mainForm::setAddressBlock(Visibility visibility)
{
    const bool visible = visibility == Visibility::Shown;
    for (QWidget* control :
        std::initializer_list<QWidget*> { from_addr, from_city, from_state, from_zip, dest_addr, dest_city,
            dest_state, dest_zip, lbl_from_addr, lbl_from_addr2, lbl_dest_addr, lbl_dest_addr2 })
        control->setVisible(visible);
}

void mainForm::openDirectionsPage()
{
    WebBrowser1->navigate2(m_directionsPage);
}

tw::cInifile& mainForm::settings()
{
    if (!m_settings)
        m_settings = std::make_unique<tw::cInifile>();
    return *m_settings;
}

void mainForm::pointSettingsAt(const QString& key)
{
    settings().Path(tw::app::controlIniPath());
    settings().Section(kSettingsSection);
    settings().Key(key);
}

web::HtmlElement& mainForm::formElement(const QString& name)
{
    web::HtmlDocument* document = WebBrowser1->document();
    web::HtmlElement* form = document != nullptr ? document->forms(kFormName) : nullptr;
    web::HtmlElement* element = form != nullptr ? form->all(name) : nullptr;
    if (element == nullptr)
        throw std::runtime_error(QStringLiteral("The directions page has no field \"%1\" in its form \"%2\".")
                                     .arg(name, kFormName)
                                     .toStdString());
    return *element;
}

void mainForm::openSingleWindow(QPointer<QWidget>& window, const WindowFactory& factory)
{
    QWidget* open = window.data();
    if (open == nullptr) {
        if (!factory)
            return;
        open = factory();
        if (open == nullptr)
            return;
        // Closing destroys it, so the next opening makes and loads a new one.
        open->setAttribute(Qt::WA_DeleteOnClose);
        window = open;
    } else if (open->isVisible()) {
        // Already open: a second click changes nothing but bringing it forward.
        open->raise();
        return;
    }
    open->show();
}

} // namespace tw::directions
