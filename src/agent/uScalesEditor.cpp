#include "agent/uScalesEditor.h"

#include <algorithm>
#include <charconv>
#include <exception>

#include "agent/uAgentStatus.h"
#include "agent/uJobTracker.h"
#include "core/uEgaissRu.h"
#include "platform/uPath.h"
#include "scales/uVesiFolderWatch.h"

namespace egaiss {
namespace {

bool SameHost(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return fold(x) == fold(y);
    });
}

int PollSecondsFromText(const std::string& text) {
    int value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size() || value < 1)
        return DefaultScalePollSeconds;
    return value;
}

std::string SearchError(const std::exception& error) {
    return "Ошибка поиска: " + std::string(error.what());
}

}  // namespace

TScalesEditor::TScalesEditor(TMainLoop& loop, TScalesEditorView& view, TPrompts& prompts, int brand,
                             const TScalesConfig& cfg, TMassaDiscoveryParams search,
                             TMassaTimeouts loadTimeouts)
    : FView(view),
      FPrompts(prompts),
      FBrand(brand),
      FCfg(cfg),
      FSearch(std::move(search)),
      FLoadTimeouts(loadTimeouts),
      FJobs(std::make_shared<TJobTracker>(loop)) {}

TScalesEditor::~TScalesEditor() {
    FJobs->Detach();
    RequestStop(true);
}

const TScaleBrandConfig& TScalesEditor::BrandConfig() const {
    return FCfg.Brands.at(static_cast<std::size_t>(FBrand));
}

TScaleBrandConfig& TScalesEditor::EditedBrand() {
    return FCfg.Brands.at(static_cast<std::size_t>(FBrand));
}

TScalesFormTexts TScalesEditor::Texts() const {
    const std::string brand = ScaleBrandTitle(FBrand);
    return {"Весы: " + brand,
            "Протокол R (Ethernet). Укажите папку и имя файла, как в справочнике весов ERP (точное имя или "
            "маска, напр. massa_k*.csv).",
            "Включить " + brand,
            "Папка",
            "Ожидаемый файл (имя или маска)",
            "Опрос, с",
            "MAC"};
}

void TScalesEditor::Open() {
    EnsureMacAddr(FCfg);
    const TScaleBrandConfig& brand = BrandConfig();
    FView.ShowValues({brand.Enabled, brand.VesiDir, brand.ExpectFile, std::to_string(brand.PollSeconds)},
                     FCfg.MacAddr);
    FView.ShowSearching(false, "");
    FView.ShowScales(brand.Scales);
}

void TScalesEditor::BrowseFolderClicked(const std::string& dir) {
    const std::string folder = FPrompts.ChooseFolder("Папка файлов весов", dir);
    if (!folder.empty()) FView.ShowDir(PathUtf8(Utf8Path(folder).make_preferred()));
}

void TScalesEditor::BrowseFileClicked(const std::string& dir, const std::string& file) {
    const std::string chosen =
        FPrompts.ChooseFile(Texts().Title, JoinPath(dir, file), scales_texts::FileFilter);
    if (chosen.empty()) return;
    const std::filesystem::path path = Utf8Path(chosen).make_preferred();
    FView.ShowDir(PathUtf8(path.parent_path() / ""));
    FView.ShowFile(PathUtf8(path.filename()));
}

void TScalesEditor::AddClicked() {
    std::string line = "192.168.0.1:" + std::to_string(DefaultScalePort(FBrand));
    if (FPrompts.InputText("Добавить весы", "host:port[:serial]", line)) AddScale(line);
}

void TScalesEditor::ControlsToConfig(const TScalesFormValues& values) {
    TScaleBrandConfig& brand = EditedBrand();
    brand.Enabled = values.Enabled;
    brand.VesiDir = TrimControl(values.Dir);
    if (brand.VesiDir.empty()) brand.VesiDir = DefaultVesiDir;
    brand.ExpectFile = TrimControl(values.File);
    if (brand.ExpectFile.empty()) brand.ExpectFile = DefaultExpectFile(FBrand);
    brand.PollSeconds = PollSecondsFromText(TrimControl(values.Poll));
    for (TScaleEndpoint& endpoint : brand.Scales) {
        if (endpoint.Port < 1) endpoint.Port = DefaultScalePort(FBrand);
    }
    EnsureMacAddr(FCfg);
}

bool TScalesEditor::AddScale(const std::string& line) {
    TScaleEndpoint endpoint = TScaleEndpoint::FromLine(line);
    if (endpoint.Host.empty()) return false;
    if (endpoint.Port < 1) endpoint.Port = DefaultScalePort(FBrand);
    EditedBrand().Scales.push_back(std::move(endpoint));
    FView.ShowScales(BrandConfig().Scales);
    return true;
}

void TScalesEditor::RemoveScale(int row) {
    auto& scales = EditedBrand().Scales;
    if (row < 0 || static_cast<std::size_t>(row) >= scales.size()) return;
    scales.erase(scales.begin() + row);
    FView.ShowScales(scales);
}

void TScalesEditor::MergeFoundDevices(const std::vector<TMassaDevice>& devices) {
    auto& scales = EditedBrand().Scales;
    for (const TMassaDevice& device : devices) {
        const auto known = std::ranges::find_if(
            scales, [&](const TScaleEndpoint& endpoint) { return SameHost(endpoint.Host, device.Host); });
        if (known == scales.end()) {
            scales.push_back({device.Host, device.Port, device.Serial, true});
        } else if (known->Serial.empty() && !device.Serial.empty()) {
            known->Serial = device.Serial;
        }
    }
    FView.ShowScales(scales);
}

void TScalesEditor::Find() {
    if (FDiscovering) return;
    FDiscoverCancel = std::make_shared<std::atomic<bool>>(false);
    FDiscovering = true;
    FView.ShowSearching(true, "Поиск Масса-К в сети...");

    FJobs->JobStarted();
    FWorkers.Start([this, jobs = FJobs, cancel = FDiscoverCancel, params = FSearch] {
        // The callbacks run on this thread; what they show runs on the dialog's, in order.
        const auto progress = [this, jobs, cancel](const std::string& text, int found) {
            jobs->Post([this, cancel, text, found] {
                // Once a stop was asked, its own text stays until the search has ended.
                if (FDiscovering && !*cancel)
                    FView.ShowSearchText("Поиск: " + text + "  (найдено: " + std::to_string(found) + ")");
            });
        };
        const auto found = [this, jobs](const TMassaDevice& device) {
            jobs->Post([this, device] { MergeFoundDevices({device}); });
        };
        std::vector<TMassaDevice> devices;
        std::string error;
        try {
            devices = DiscoverMassaScales(params, *cancel, progress, found);
        } catch (const std::exception& failure) {
            error = SearchError(failure);
        }
        jobs->JobFinished([this, devices, cancelled = cancel->load(), error] {
            SearchFinished(devices, cancelled, error);
        });
    });
}

void TScalesEditor::SearchFinished(const std::vector<TMassaDevice>& devices, bool cancelled,
                                   const std::string& error) {
    std::string text = error;
    if (text.empty()) {
        try {
            MergeFoundDevices(devices);
            const std::string count = std::to_string(devices.size());
            text = cancelled ? "Поиск прерван. Найдено: " + count : "Найдено: " + count;
        } catch (const std::exception& failure) {
            text = SearchError(failure);
        }
    }
    FDiscovering = false;
    FView.ShowSearching(false, text);
}

bool TScalesEditor::RequestStop(bool closeSocket) {
    if (!FDiscovering) return false;
    *FDiscoverCancel = true;
    if (closeSocket) CloseDiscoverySocket();
    return true;
}

void TScalesEditor::StopClicked() {
    if (RequestStop(true)) FView.ShowStopping("Остановка...");
}

bool TScalesEditor::CancelRequested() {
    return !RequestStop(false);
}

bool TScalesEditor::CloseRequested() {
    if (!RequestStop(true)) return true;
    FView.ShowStopping("Остановка поиска...");
    return false;
}

void TScalesEditor::LoadNowClicked(const TScalesFormValues& values) {
    if (FLoading) return;
    ControlsToConfig(values);
    FLoading = true;
    FView.ShowLoading(true);
    FJobs->JobStarted();
    // A closed dialog leaves the load to finish on its own; its result is then dropped.
    FWorkers.Start([this, jobs = FJobs, cfg = FCfg, timeouts = FLoadTimeouts] {
        TScalesNotice notice;
        std::exception_ptr failure;
        try {
            TVesiLoadResult result;
            if (PollScalesFolders(cfg, true, result, timeouts)) {
                notice = {TScalesNoticeKind::snkInformation, result.Message};
            } else if (!result.Message.empty()) {
                notice = {TScalesNoticeKind::snkWarning, result.Message};
            } else {
                notice = {TScalesNoticeKind::snkInformation, "Нечего загружать"};
            }
        } catch (const std::exception&) {
            failure = std::current_exception();
        }
        jobs->JobFinished([this, notice, failure] {
            FLoading = false;
            FView.ShowLoading(false);
            // A failure goes where an exception of the dialog's own handlers goes.
            if (failure) std::rethrow_exception(failure);
            ShowNotice(notice);
        });
    });
}

void TScalesEditor::ShowNotice(const TScalesNotice& notice) {
    const TMessageKind kind =
        notice.Kind == TScalesNoticeKind::snkWarning ? TMessageKind::mkWarning : TMessageKind::mkInformation;
    FPrompts.Message(kind, AppTitle(), notice.Text);
}

void TScalesEditor::SaveClicked(const TScalesFormValues& values) {
    const std::string warning = Save(values);
    if (!warning.empty()) {
        FPrompts.Message(TMessageKind::mkWarning, AppTitle(), warning);
        return;
    }
    FView.CloseSaved();
}

std::string TScalesEditor::Save(const TScalesFormValues& values) {
    if (FDiscovering) return "Дождитесь окончания поиска или нажмите Стоп.";
    ControlsToConfig(values);
    if (values.Enabled && TrimControl(values.File).empty()) return "Укажите ожидаемое имя файла.";
    SaveScalesConfig(FCfg);
    return {};
}

}  // namespace egaiss
