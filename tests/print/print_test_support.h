#pragma once

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/print/print_services.h"

namespace paginor {

// What command writes to its standard output.
inline std::string commandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, got);
        pclose(pipe);
    }
    return output;
}

// A PDF of empty pages of the given size in points, with a correct cross-reference table; page
// i carries link annotations to the addresses links[i].
inline std::string minimalPdf(int pages, int width = 595, int height = 842,
                              const std::vector<std::vector<std::string>>& links = {}) {
    std::vector<std::string> objects;
    std::string kids;
    for (int i = 0; i < pages; ++i)
        kids += std::to_string(3 + i) + " 0 R ";
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) +
                      " >>");
    for (int i = 0; i < pages; ++i) {
        std::string annotations;
        if (static_cast<std::size_t>(i) < links.size()) {
            for (const std::string& uri : links[static_cast<std::size_t>(i)])
                annotations +=
                    "<< /Type /Annot /Subtype /Link /Rect [0 0 1 1] /A << /S /URI /URI (" + uri +
                    ") >> >> ";
        }
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) +
                          " " + std::to_string(height) + "]" +
                          (annotations.empty() ? "" : " /Annots [" + annotations + "]") + " >>");
    }
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

// The lines pdffonts gives for the fonts of the PDF at path that are not embedded as TrueType
// subsets (a six-capital tag before the name) drawn through Identity-H with a ToUnicode map;
// fonts receives how many fonts it lists.
inline std::string fontsNotEmbeddedAsSubsets(const std::string& path, int& fonts) {
    const std::string listing = commandOutput("pdffonts '" + path + "' 2>&1");
    fonts = 0;
    std::string wrong;
    std::size_t start = listing.find("\n---");
    start = start == std::string::npos ? listing.size() : listing.find('\n', start + 1);
    while (start != std::string::npos && start + 1 < listing.size()) {
        const std::size_t end = listing.find('\n', start + 1);
        const std::string line = listing.substr(start + 1, end - start - 1);
        start = end;
        if (line.empty())
            continue;
        ++fonts;
        bool tagged = line.size() > 7 && line[6] == '+';
        for (std::size_t i = 0; tagged && i < 6; ++i)
            tagged = line[i] >= 'A' && line[i] <= 'Z';
        if (!tagged || line.find(" CID TrueType ") == std::string::npos ||
            line.find(" Identity-H ") == std::string::npos ||
            line.find(" yes yes yes ") == std::string::npos)
            wrong += line + "\n";
    }
    return fonts == 0 ? listing : wrong;
}

// Writes pdf (two empty pages unless set) for each render, at once or when finish() is called.
class FakeRenderer : public PdfRenderer {
public:
    void renderPdf(const std::string& path, const PdfPageLayout& layout, bool markPageStarts,
                   std::function<void(const PdfRenderResult&)> done) override {
        layouts.push_back(layout);
        marks.push_back(markPageStarts);
        if (succeed)
            std::ofstream(path, std::ios::binary) << (pdf.empty() ? minimalPdf(2) : pdf);
        pending = std::move(done);
        if (!deferred)
            finish();
    }
    void finish() {
        if (auto done = std::move(pending)) {
            pending = nullptr;
            PdfRenderResult result;
            result.ok = succeed;
            if (!succeed)
                result.sheetsNeeded = sheetsNeeded;
            done(result);
        }
    }

    bool succeed = true;
    bool deferred = false;
    std::string pdf;
    std::vector<int> sheetsNeeded;  // a failed render found the document this large
    std::function<void(const PdfRenderResult&)> pending;
    std::vector<PdfPageLayout> layouts;
    std::vector<bool> marks;
};

// Keeps the work and its completion until the test runs them.
class DeferredRunner : public BackgroundRunner {
public:
    void run(std::function<void()> work, std::function<void()> done) override {
        m_work = std::move(work);
        m_done = std::move(done);
    }
    bool pending() const { return static_cast<bool>(m_done); }
    void runWork() {
        if (auto work = std::move(m_work)) {
            m_work = nullptr;
            work();
        }
    }
    void deliver() {
        runWork();
        if (auto done = std::move(m_done)) {
            m_done = nullptr;
            done();
        }
    }

private:
    std::function<void()> m_work;
    std::function<void()> m_done;
};

// Runs the work at once, on the calling thread.
class InlineRunner : public BackgroundRunner {
public:
    void run(std::function<void()> work, std::function<void()> done) override {
        work();
        done();
    }
};

}  // namespace paginor
