#include "app/qt/report_browser.h"

#include <QBuffer>
#include <QContextMenuEvent>
#include <QPageLayout>
#include <QPageSize>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <algorithm>
#include <cmath>
#include <iterator>

#include "platform/code_page_names.h"

namespace paginor {

namespace {

constexpr char kScheme[] = "paginor-mem";
constexpr double kZoomFactors[] = {0.75, 0.875, 1.0, 1.25, 1.5};

}  // namespace

MemoryPageHandler* MemoryPageHandler::of(QWebEngineProfile* profile) {
    auto* handler = profile->findChild<MemoryPageHandler*>(QString(), Qt::FindDirectChildrenOnly);
    if (handler == nullptr) {
        handler = new MemoryPageHandler(profile);
        profile->installUrlSchemeHandler(kScheme, handler);
    }
    return handler;
}

QUrl MemoryPageHandler::store(const QObject* owner, QByteArray html, QByteArray mimeType) {
    // A new address for every document, so that no cached copy of an earlier page is shown.
    Document& document = m_documents[owner];
    document.path = QStringLiteral("/page/%1").arg(++m_serial);
    document.html = std::move(html);
    document.mimeType = std::move(mimeType);
    QUrl url;
    url.setScheme(kScheme);
    url.setPath(document.path);
    return url;
}

void MemoryPageHandler::forget(const QObject* owner) {
    m_documents.erase(owner);
}

void MemoryPageHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    const QString path = job->requestUrl().path();
    const auto shown =
        std::find_if(m_documents.begin(), m_documents.end(),
                     [&path](const auto& entry) { return entry.second.path == path; });
    if (shown == m_documents.end()) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    auto* buffer = new QBuffer(job);
    buffer->setData(shown->second.html);
    buffer->open(QIODevice::ReadOnly);
    job->reply(shown->second.mimeType, buffer);
}

void ReportBrowser::registerScheme() {
    QWebEngineUrlScheme scheme(kScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(scheme);
}

ReportBrowser::ReportBrowser(QWidget* parent) : QWebEngineView(parent) {
    m_handler = MemoryPageHandler::of(page()->profile());
    QWebEngineSettings* settings = page()->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    // Reports have no context menu of their own.
    setContextMenuPolicy(Qt::NoContextMenu);
    connect(this, &QWebEngineView::loadStarted, this, [this] { m_loading = true; });
    connect(this, &QWebEngineView::loadFinished, this, &ReportBrowser::onLoadFinished);
    connect(page(), &QWebEnginePage::pdfPrintingFinished, this,
            [this](const QString& path, bool ok) {
                auto it = m_pdfDone.find(path);
                if (it == m_pdfDone.end())
                    return;
                auto done = std::move(it->second);
                m_pdfDone.erase(it);
                done(ok);
            });
    connect(page(), &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                if (status != QWebEnginePage::NormalTerminationStatus)
                    emit renderProcessGone();
            });
}

ReportBrowser::~ReportBrowser() {
    if (m_handler) {
        m_handler->forget(this);
    }
}

void ReportBrowser::renderPdf(const std::string& path, const PdfPageLayout& layout,
                              std::function<void(bool ok)> done) {
    // Qt takes the paper upright and turns it by the orientation.
    const QSizeF upright(std::min(layout.width, layout.height),
                         std::max(layout.width, layout.height));
    const QPageLayout pageLayout(QPageSize(upright, QPageSize::Millimeter),
                                 layout.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                 QMarginsF(layout.left, layout.top, layout.right, layout.bottom),
                                 QPageLayout::Millimeter);
    const QString file = QString::fromStdString(path);
    m_pdfDone[file] = std::move(done);
    page()->printToPdf(file, pageLayout);
}

void ReportBrowser::loadHtml(std::string html, int codePage) {
    QByteArray mimeType = "text/html";
    const std::string charset = charsetNameOfCodePage(codePage);
    if (!charset.empty()) {
        mimeType += ";charset=" + QByteArray::fromStdString(charset);
    }
    if (!m_handler) {
        m_handler = MemoryPageHandler::of(page()->profile());
    }
    const QUrl url = m_handler->store(
        this, QByteArray(html.data(), static_cast<qsizetype>(html.size())), mimeType);
    m_pendingScroll.reset();
    m_pendingDirection.reset();
    m_loading = true;
    load(url);
}

void ReportBrowser::navigate(const std::string& url) {
    m_pendingScroll.reset();
    m_pendingDirection.reset();
    m_loading = true;
    load(QUrl::fromUserInput(QString::fromStdString(url)));
}

void ReportBrowser::scrollPosition(int& top, int& left) const {
    const QPointF position = page()->scrollPosition();
    top = static_cast<int>(std::lround(position.y()));
    left = static_cast<int>(std::lround(position.x()));
}

void ReportBrowser::setScrollPosition(int top, int left) {
    m_pendingScroll = QPointF(left, top);
    if (!m_loading) {
        applyPending();
    }
}

void ReportBrowser::setDirection(bool rightToLeft) {
    m_pendingDirection = rightToLeft;
    if (!m_loading) {
        applyPending();
    }
}

int ReportBrowser::zoomStep() const {
    const double factor = zoomFactor();
    int best = 2;
    for (int i = 0; i < static_cast<int>(std::size(kZoomFactors)); ++i) {
        if (std::abs(kZoomFactors[i] - factor) < std::abs(kZoomFactors[best] - factor)) {
            best = i;
        }
    }
    return best;
}

void ReportBrowser::setZoomStep(int step) {
    setZoomFactor(kZoomFactors[std::clamp(step, 0, static_cast<int>(std::size(kZoomFactors)) - 1)]);
}

void ReportBrowser::applyPending() {
    QString script;
    if (m_pendingDirection) {
        script += QStringLiteral("document.documentElement.dir='%1';")
                      .arg(*m_pendingDirection ? "rtl" : "ltr");
    }
    if (m_pendingScroll) {
        script += QStringLiteral("window.scrollTo(%1,%2);")
                      .arg(m_pendingScroll->x())
                      .arg(m_pendingScroll->y());
    }
    m_pendingDirection.reset();
    m_pendingScroll.reset();
    if (!script.isEmpty()) {
        page()->runJavaScript(script);
    }
}

void ReportBrowser::onLoadFinished(bool ok) {
    m_loading = false;
    if (ok) {
        applyPending();
    }
    // Scripts run in order, so this one reports after the direction and scroll are applied.
    const QUrl shown = url();
    page()->runJavaScript(QStringLiteral("0"),
                          [this, shown, ok](const QVariant&) { emit documentComplete(shown, ok); });
}

}  // namespace paginor
