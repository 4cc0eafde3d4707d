#pragma once

#include <QByteArray>
#include <QPointF>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>
#include <functional>
#include <map>
#include <optional>

#include "app/browser_control.h"
#include "app/print/print_services.h"

namespace paginor {

// Serves the page document currently shown from memory: a web view cannot take HTML above 2 MB
// directly.
class MemoryPageHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    QUrl store(QByteArray html, QByteArray mimeType);
    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    QByteArray m_html;
    QByteArray m_mimeType;
    QString m_path;
    quint64 m_serial = 0;
};

// The report view's web engine.
class ReportBrowser : public QWebEngineView, public BrowserControl, public PdfRenderer {
    Q_OBJECT
public:
    // Must run before the QApplication is built.
    static void registerScheme();

    explicit ReportBrowser(QWidget* parent = nullptr);

    void loadHtml(std::string html, int codePage) override;
    void navigate(const std::string& url) override;
    void scrollPosition(int& top, int& left) const override;
    void setScrollPosition(int top, int left) override;
    void setDirection(bool rightToLeft) override;
    int zoomStep() const override;
    void setZoomStep(int step) override;

    bool loading() const override { return m_loading; }

    void renderPdf(const std::string& path, const PdfPageLayout& layout,
                   std::function<void(bool ok)> done) override;

signals:
    // The document has finished loading, with its scroll position and direction applied.
    void documentComplete(const QUrl& url, bool ok);
    // The page's renderer ended before its time.
    void renderProcessGone();

private:
    void onLoadFinished(bool ok);
    void applyPending();

    MemoryPageHandler* m_handler = nullptr;
    bool m_loading = false;
    std::optional<QPointF> m_pendingScroll;
    std::optional<bool> m_pendingDirection;
    std::map<QString, std::function<void(bool)>> m_pdfDone;
};

}  // namespace paginor
