#include "main_form.h"

#include "address_field.h"
#include "directions_extraction.h"

#include "app/toolkit.h"
#include "directions/web/web_browser.h"
#include "resources/resources.h"
#include "settings/cinifile.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>

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
            ripDirections();
        } else if (head == m_searchAgainPrefix) {
            btn_Search->setEnabled(true);
            btn_Search->setText(kSearchAgainCaption);
        }
    });
}

void mainForm::navigateComplete2(const QString& /*url*/)
{
    tw::app::restoreDefaultPointer();
}

void mainForm::navigateError(const QString& /*url*/, int /*statusCode*/)
{
    tw::app::restoreDefaultPointer();
}

// --- Window procedures ----------------------------------------------------------

void mainForm::resetSearch(const QString& message)
{
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
        resetSearch(kNoResultsMessage);
        return;
    }

    setAddressBlock(Visibility::Hidden);
    btn_Search->hide();
    btn_research->show();
    btn_sync->show();
    txtRip->show();
    m_directionsText = *text;
    txtRip->setPlainText(m_directionsText);
}

void mainForm::enterEntryState()
{
    lblX->hide();
    btn_Search->setEnabled(true);
    setAddressBlock(Visibility::Shown);
    btn_Search->show();
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
