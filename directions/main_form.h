#pragma once
// mainForm: the application's start-up window and its working surface.
//
// The user types a start and a destination address (a street line and a city,
// state and zip line each). The window drives a hidden web client (WebBrowser1)
// against the directions service: it opens the service's directions page, fills
// the page's form "dd" with the addresses, submits it, recognises each page that
// comes back by its address alone and turns a result page's markup into the
// directions text shown in txtRip. "Add to iPod" opens the sync window, which
// reads that text through directionsText(); a click on the banner opens the
// About window.
//
// The window keeps no state variable: its display state (loading, entry,
// searching, search again, result) is only which controls are shown, enabled
// and captioned how. Each control carries its name as objectName, so tests and
// other windows find them with findChild.
//
// Every handler runs its steps in order. A failing step (the page lacks the form
// or one of its fields, no page is loaded, ...) ends the handler there with the
// steps before it done, and the user sees one message box saying what failed. No
// exception leaves a handler.
//
// No state without a way out, and the reason always shown:
// - The directions page failing to load in the loading state (no service, an
//   error status, no answer within the web client's page time-out) puts the
//   reason and the service's address into lblX, and the page is asked for
//   again by itself: first after kFirstRetryMs, then every kRetryMs, until it
//   arrives and the entry state follows.
// - A search whose answer fails to load ends in the search again state with
//   the reason in txtNotice; the fields keep what the user typed. The
//   service's own form page with a notice counts as that page whatever its
//   HTTP status; any other status of 400 or more is a failed page.
// - The service's form page coming back with a notice (an address not found or
//   ambiguous, a field too long) shows that notice in txtNotice in the search
//   again state; each address it suggests is a link that fills its field.
// Return or Enter on a focused button presses it. The entry state gives the
// first address field the focus with its whole text selected.

#include "directions/service_address.h"
#include "directions/service_notice.h"
#include "directions/web/web_browser.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTextBrowser;
class QTimer;
class QUrl;

namespace tw {
class cInifile;
namespace web {
class HtmlDocument;
class HtmlElement;
} // namespace web
} // namespace tw

namespace tw::directions {

class AddressField;

class mainForm : public QWidget {
    Q_OBJECT
public:
    // Makes a new top-level window (the sync or the About window), not yet shown.
    using WindowFactory = std::function<QWidget*()>;

    // How long the loading state waits before it asks for a failed directions
    // page again: the first time, and each time after that.
    static constexpr int kFirstRetryMs = 500;
    static constexpr int kRetryMs = 1500;

    // `baseAddress` is the directions service's scheme and host (tests point it at
    // a loopback server). The factories make the windows that "Add to iPod" and the
    // banner open; an empty factory leaves its control without effect.
    explicit mainForm(const QString& baseAddress = QString::fromLatin1(kServiceBaseAddress),
        WindowFactory syncWindowFactory = {}, WindowFactory aboutWindowFactory = {},
        QWidget* parent = nullptr);
    ~mainForm() override;

    // The directions text: the contents of txtRip. Returns the extraction's text
    // exactly (rows ended by CR LF) unless the user has edited it since; then the
    // edited text, its lines ended by CR LF.
    QString directionsText() const;

    // The first time the window is made visible it loads (start-up) before it
    // appears.
    void setVisible(bool visible) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Visibility { Hidden, Shown };

    // Handlers.
    void load();
    void searchClicked();
    void researchClicked();
    void syncClicked();
    void bannerClicked();
    void documentComplete(const QString& url);
    void navigateComplete2(const QString& url);
    void navigateError(const QString& url, int statusCode, web::WebBrowser::Target target);
    void retryTimerElapsed();
    void noticeLinkClicked(const QUrl& link);

    // Window procedures.
    void resetSearch(const QString& message);
    void ripDirections();
    void enterEntryState();
    // The search again state, with `notice` shown when there is one.
    void enterSearchAgainState(const std::optional<ServiceNotice>& notice);
    // The service's notice on the current page, if it has one.
    std::optional<ServiceNotice> pageNotice();
    static bool holdsTheForm(const web::HtmlDocument& document);
    void showNotice(const std::optional<ServiceNotice>& notice);
    void takeSuggestion(std::size_t index);
    // "The directions service at <base> does not answer" and the like.
    QString failureSentence(int statusCode) const;
    bool pressedByKeyboard(QObject* watched, QEvent* event);

    void buildControls();
    void setAddressBlock(Visibility visibility);
    void openDirectionsPage();
    tw::cInifile& settings();
    void pointSettingsAt(const QString& key);
    web::HtmlElement& formElement(const QString& name);
    void openSingleWindow(QPointer<QWidget>& window, const WindowFactory& factory);

    // Runs one handler's steps; a failure is shown to the user as `what` failed.
    template <typename Steps> void runHandler(const QString& what, Steps&& steps) noexcept;

    const QString m_baseAddress;
    const QString m_directionsPage;
    const QString m_resultPrefix;
    const QString m_searchAgainPrefix;
    const WindowFactory m_syncWindowFactory;
    const WindowFactory m_aboutWindowFactory;
    QPointer<QWidget> m_syncWindow;
    QPointer<QWidget> m_aboutWindow;
    std::unique_ptr<tw::cInifile> m_settings;
    bool m_loaded = false;
    // The text the extraction last put into txtRip, exactly.
    QString m_directionsText;
    // Asks for the directions page again after it failed in the loading state.
    QTimer* m_retryTimer = nullptr;
    // Failed loads of the directions page since the last reset or entry.
    int m_failedLoads = 0;
    // A notice to show when the entry state is reached next.
    std::optional<ServiceNotice> m_pendingNotice;
    // The suggestions of the notice shown in txtNotice.
    std::vector<ServiceNotice::Suggestion> m_suggestions;

    // Controls, named as the window names them.
    QLabel* Image1 = nullptr;
    QLabel* lblX = nullptr;
    QLabel* lbl_from_addr = nullptr;
    AddressField* from_addr = nullptr;
    QLabel* lbl_from_addr2 = nullptr;
    AddressField* from_city = nullptr;
    AddressField* from_state = nullptr;
    AddressField* from_zip = nullptr;
    QLabel* lbl_dest_addr = nullptr;
    AddressField* dest_addr = nullptr;
    QLabel* lbl_dest_addr2 = nullptr;
    AddressField* dest_city = nullptr;
    AddressField* dest_state = nullptr;
    AddressField* dest_zip = nullptr;
    QPushButton* btn_Search = nullptr;
    QPlainTextEdit* txtRip = nullptr;
    QPushButton* btn_research = nullptr;
    QPushButton* btn_sync = nullptr;
    // What the service or the window has to say about the last search.
    QTextBrowser* txtNotice = nullptr;
    web::WebBrowser* WebBrowser1 = nullptr;
};

} // namespace tw::directions
