#pragma once
// The rules of the scales dialog: a working copy of the scale settings, the edits of one brand
// (its controls turned into settings, the pickers, scales added, removed and merged from a LAN
// search), the search's life cycle on a worker thread, "load now" on a worker thread, saving and
// closing. Each face's dialog draws what this class tells its view; tests drive it without a display.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "agent/uMainLoop.h"
#include "agent/uPrompts.h"
#include "agent/uWorkerThreads.h"
#include "scales/uMassaKDiscovery.h"
#include "scales/uMassaKProto.h"
#include "scales/uScalesConfig.h"

namespace egaiss {

class TJobTracker;

// The texts of the brand's controls, as the user left them.
struct TScalesFormValues {
    bool Enabled = false;
    std::string Dir;
    std::string File;
    std::string Poll;
};

// The dialog's captions for one brand.
struct TScalesFormTexts {
    std::string Title;
    std::string Hint;
    std::string Enabled;
    std::string Dir;
    std::string File;
    std::string Poll;
    std::string Mac;
};

// The captions of the dialog's buttons, shared by both faces.
namespace scales_texts {
inline constexpr const char* Find = "Найти в сети";
inline constexpr const char* Stop = "Стоп";
inline constexpr const char* Add = "Добавить IP";
inline constexpr const char* Remove = "Удалить";
inline constexpr const char* LoadNow = "Загрузить сейчас";
inline constexpr const char* Ok = "OK";
inline constexpr const char* Cancel = "Отмена";
inline constexpr const char* FileFilter = "CSV/XLS (*.csv *.xls *.xml);;All (*.*)";
}  // namespace scales_texts

// What the dialog shows for the editor. Called on the main thread.
class TScalesEditorView {
public:
    virtual ~TScalesEditorView() = default;
    // The brand's settings into the controls.
    virtual void ShowValues(const TScalesFormValues& values, const std::string& mac) = 0;
    // Folder and file from a picker.
    virtual void ShowDir(const std::string& dir) = 0;
    virtual void ShowFile(const std::string& file) = 0;
    // One row per scale of the brand, in list order.
    virtual void ShowScales(const std::vector<TScaleEndpoint>& scales) = 0;
    // Search running or not (progress bar, Find and Stop buttons) and the search text.
    virtual void ShowSearching(bool on, const std::string& text) = 0;
    // The search text alone.
    virtual void ShowSearchText(const std::string& text) = 0;
    // A stop was asked: the search still runs, but Stop cannot be pressed again.
    virtual void ShowStopping(const std::string& text) = 0;
    // "Load now" running (its button disabled, a busy cursor) or not.
    virtual void ShowLoading(bool on) = 0;
    // The dialog closes as saved.
    virtual void CloseSaved() = 0;
};

enum class TScalesNoticeKind { snkInformation, snkWarning };

struct TScalesNotice {
    TScalesNoticeKind Kind = TScalesNoticeKind::snkInformation;
    std::string Text;
};

class TScalesEditor {
public:
    // `search` says where the LAN search looks; the dialog passes this computer's subnets. The
    // search's results run on `loop`.
    TScalesEditor(TMainLoop& loop, TScalesEditorView& view, TPrompts& prompts, int brand,
                  const TScalesConfig& cfg, TMassaDiscoveryParams search, TMassaTimeouts loadTimeouts = {});
    // A search still running is stopped; what it posts afterwards is dropped.
    ~TScalesEditor();
    TScalesEditor(const TScalesEditor&) = delete;
    TScalesEditor& operator=(const TScalesEditor&) = delete;

    int Brand() const { return FBrand; }
    const TScalesConfig& Config() const { return FCfg; }
    const TScaleBrandConfig& BrandConfig() const;

    TScalesFormTexts Texts() const;

    // Fills the MAC address and shows the settings, the list and an idle search.
    void Open();
    // The pickers, starting at what the controls hold. A chosen file is expected by its exact name
    // from then on, in the folder it is in.
    void BrowseFolderClicked(const std::string& dir);
    void BrowseFileClicked(const std::string& dir, const std::string& file);
    // Asks for "host:port[:serial]" and adds it.
    void AddClicked();
    // Blank folder, file and poll texts fall back to their defaults; ports below 1 become 5001.
    void ControlsToConfig(const TScalesFormValues& values);
    // "host:port[:serial][:off]"; false (nothing added) when the host is empty.
    bool AddScale(const std::string& line);
    void RemoveScale(int row);
    // Known hosts (ignoring case) only get a missing serial; new ones are appended enabled.
    void MergeFoundDevices(const std::vector<TMassaDevice>& devices);

    bool Searching() const { return FDiscovering; }
    // Starts the LAN search unless one runs.
    void Find();
    void StopClicked();
    // Cancel: false while a search runs, which is only asked to end; the dialog stays until it has.
    bool CancelRequested();
    // The title bar's close: false while a search runs, which is stopped at once.
    bool CloseRequested();

    bool Loading() const { return FLoading; }
    // Loads the waiting price file with the settings on screen (not saved) on a worker thread and
    // tells the user how it went; nothing while a load runs.
    void LoadNowClicked(const TScalesFormValues& values);
    // Writes the settings file and closes the dialog, or warns and keeps it open.
    // Raises EFileError when the file cannot be written.
    void SaveClicked(const TScalesFormValues& values);
    // The warning that keeps the dialog open, or empty once the file is written.
    std::string Save(const TScalesFormValues& values);

private:
    // Asks the running search to end: with `closeSocket` at once (Stop, closing the window),
    // otherwise at its next test of the flag (Cancel). False when no search runs.
    bool RequestStop(bool closeSocket);
    TScaleBrandConfig& EditedBrand();
    void SearchFinished(const std::vector<TMassaDevice>& devices, bool cancelled, const std::string& error);

    void ShowNotice(const TScalesNotice& notice);

    TScalesEditorView& FView;
    TPrompts& FPrompts;
    const int FBrand;
    TScalesConfig FCfg;
    const TMassaDiscoveryParams FSearch;
    const TMassaTimeouts FLoadTimeouts;
    bool FDiscovering = false;
    bool FLoading = false;
    // One flag per search, shared with its worker, so that an old worker never reads a new flag.
    std::shared_ptr<std::atomic<bool>> FDiscoverCancel;
    std::shared_ptr<TJobTracker> FJobs;
    TWorkerThreads FWorkers;
};

}  // namespace egaiss
