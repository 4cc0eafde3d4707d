#pragma once

#include <QByteArray>
#include <QPointF>
#include <QPointer>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "app/browser_control.h"
#include "app/print/print_services.h"

class QWebEngineProfile;

namespace paginor {

// Serves from memory the page document each browser shows: a web view cannot take HTML above
// 2 MB directly. A profile takes one handler for the scheme, so all browsers of the profile
// share it, each with its own document.
class MemoryPageHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    // The profile's handler, installed with the first browser; it lives as long as the profile.
    static MemoryPageHandler* of(QWebEngineProfile* profile);

    // A new address for owner's document; the one it stored before is served no more.
    QUrl store(const QObject* owner, QByteArray html, QByteArray mimeType);
    // Drops owner's document.
    void forget(const QObject* owner);
    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    struct Document {
        QString path;
        QByteArray html;
        QByteArray mimeType;
    };
    std::map<const QObject*, Document> m_documents;
    quint64 m_serial = 0;
};

// The report view's web engine.
class ReportBrowser : public QWebEngineView, public BrowserControl, public PdfRenderer {
    Q_OBJECT
public:
    // Must run before the QApplication is built.
    static void registerScheme();

    explicit ReportBrowser(QWidget* parent = nullptr);
    ~ReportBrowser() override;

    void loadHtml(std::string html, int codePage) override;
    void navigate(const std::string& url) override;
    void scrollPosition(int& top, int& left) const override;
    void setScrollPosition(int top, int left) override;
    void setDirection(bool rightToLeft) override;
    int zoomStep() const override;
    void setZoomStep(int step) override;

    bool loading() const override { return m_loading; }

    void renderPdf(const std::string& path, const PdfPageLayout& layout, bool markPageStarts,
                   std::function<void(const PdfRenderResult&)> done) override;

signals:
    // The document has finished loading, with its scroll position and direction applied.
    void documentComplete(const QUrl& url, bool ok);
    // The page's renderer ended before its time.
    void renderProcessGone();

private:
    void onLoadFinished(bool ok);
    void applyPending();

    QPointer<MemoryPageHandler> m_handler;
    bool m_loading = false;
    std::optional<QPointF> m_pendingScroll;
    std::optional<bool> m_pendingDirection;
    std::map<QString, std::function<void(const PdfRenderResult&)>> m_pdfDone;
    // False once the destructor has begun: script answers that come later are dropped.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace paginor
