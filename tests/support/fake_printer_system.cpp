#include "tests/support/fake_printer_system.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace paginor {

void FakePrinterSystem::addDestination(const std::string& name, Destination destination) {
    std::lock_guard lock(m_mutex);
    if (!m_destinations.count(name))
        m_order.push_back(name);
    m_destinations[name] = std::move(destination);
    if (m_default.empty())
        m_default = name;
}

void FakePrinterSystem::setDefault(const std::string& name) {
    std::lock_guard lock(m_mutex);
    m_default = name;
}

void FakePrinterSystem::failWith(std::string error) {
    std::lock_guard lock(m_mutex);
    m_error = std::move(error);
}

std::vector<FakePrinterSystem::Submission> FakePrinterSystem::submissions() const {
    std::lock_guard lock(m_mutex);
    return m_submissions;
}

bool FakePrinterSystem::failed(std::string& error) const {
    if (m_error.empty())
        return false;
    error = m_error;
    return true;
}

FakePrinterSystem::Destination* FakePrinterSystem::find(const std::string& destination,
                                                        std::string& error) {
    if (failed(error))
        return nullptr;
    auto it = m_destinations.find(destination);
    if (it == m_destinations.end()) {
        error = "No printer \"" + destination + "\": The printer or class does not exist.";
        return nullptr;
    }
    return &it->second;
}

bool FakePrinterSystem::destinations(std::vector<std::string>& names, std::string& error) {
    std::lock_guard lock(m_mutex);
    names.clear();
    if (failed(error))
        return false;
    names = m_order;
    return true;
}

bool FakePrinterSystem::defaultDestination(std::string& name, std::string& error) {
    std::lock_guard lock(m_mutex);
    name.clear();
    if (failed(error))
        return false;
    name = m_default;
    return true;
}

bool FakePrinterSystem::media(const std::string& destination, std::vector<PrinterMedia>& media,
                              std::string& defaultMedia, std::string& error) {
    std::lock_guard lock(m_mutex);
    media.clear();
    defaultMedia.clear();
    Destination* found = find(destination, error);
    if (found == nullptr)
        return false;
    media = found->media;
    defaultMedia = found->defaultMedia;
    return true;
}

bool FakePrinterSystem::submitFile(const std::string& destination, const std::string& title,
                                   const std::string& path, const std::string& format,
                                   const PrinterOptions& options, int& jobId, std::string& error) {
    std::lock_guard lock(m_mutex);
    jobId = 0;
    Destination* found = find(destination, error);
    if (found == nullptr)
        return false;
    if (format != "application/pdf" && format != "text/plain") {
        error = "Printer \"" + destination + "\" cannot print documents of type " + format;
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "Cannot read \"" + path + "\"";
        return false;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    jobId = m_nextJob++;
    m_submissions.push_back({destination, title, std::move(bytes), options, jobId, format});
    return true;
}

bool FakePrinterSystem::activeJobs(const std::string& destination, std::vector<PrinterJob>& jobs,
                                   std::string& error) {
    std::lock_guard lock(m_mutex);
    jobs.clear();
    Destination* found = find(destination, error);
    if (found == nullptr)
        return false;
    jobs = found->jobs;
    return true;
}

bool FakePrinterSystem::cancelJob(const std::string& destination, int jobId, std::string& error) {
    std::lock_guard lock(m_mutex);
    Destination* found = find(destination, error);
    if (found == nullptr)
        return false;
    const auto job = std::find_if(found->jobs.begin(), found->jobs.end(),
                                  [jobId](const PrinterJob& j) { return j.id == jobId; });
    if (job == found->jobs.end()) {
        error = "Cannot cancel job " + std::to_string(jobId) + " on \"" + destination +
                "\": client-error-not-possible";
        return false;
    }
    found->jobs.erase(job);
    m_cancelled.push_back(jobId);
    return true;
}

std::vector<int> FakePrinterSystem::cancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

bool FakePrinterSystem::state(const std::string& destination, PrinterState& state,
                              std::string& error) {
    std::lock_guard lock(m_mutex);
    state = {};
    Destination* found = find(destination, error);
    if (found == nullptr)
        return false;
    state = found->state;
    return true;
}

void FakePrinterSystem::setState(const std::string& destination, PrinterState state) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_destinations.find(destination); it != m_destinations.end())
        it->second.state = std::move(state);
}

FakePrinterSystem::Destination FakePrinterSystem::standardDestination() {
    Destination destination;
    const int margin = 423;
    destination.media = {
        {"iso_a4_210x297mm", "A4", "A4", 21000, 29700, margin, margin, margin, margin},
        {"na_letter_8.5x11in", "Letter", "US Letter", 21590, 27940, margin, margin, margin, margin},
        {"na_legal_8.5x14in", "Legal", "US Legal", 21590, 35560, margin, margin, margin, margin},
        {"iso_a3_297x420mm", "A3", "A3", 29700, 42000, margin, margin, margin, margin},
    };
    destination.defaultMedia = "iso_a4_210x297mm";
    return destination;
}

}  // namespace paginor
