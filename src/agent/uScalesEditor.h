#pragma once
// The logic of the scales dialog: a working copy of the scale settings, the edits of one brand
// (its controls turned into settings, scales added, removed and merged from a LAN search), the
// search's life cycle on a worker thread, "load now" and saving. The dialog draws what this class
// tells its view; tests drive it without a display.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "agent/uMainLoop.h"
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

// What the dialog shows for the editor. Called on the main thread.
class TScalesEditorView {
public:
    virtual ~TScalesEditorView() = default;
    // One row per scale of the brand, in list order.
    virtual void ShowScales(const std::vector<TScaleEndpoint>& scales) = 0;
    // Search running or not (progress bar, Find and Stop buttons) and the search text.
    virtual void ShowSearching(bool on, const std::string& text) = 0;
    // The search text alone.
    virtual void ShowSearchText(const std::string& text) = 0;
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
    TScalesEditor(TMainLoop& loop, TScalesEditorView& view, int brand, const TScalesConfig& cfg,
                  TMassaDiscoveryParams search, TMassaTimeouts loadTimeouts = {});
    // A search still running is stopped; what it posts afterwards is dropped.
    ~TScalesEditor();
    TScalesEditor(const TScalesEditor&) = delete;
    TScalesEditor& operator=(const TScalesEditor&) = delete;

    int Brand() const { return FBrand; }
    const TScalesConfig& Config() const { return FCfg; }
    const TScaleBrandConfig& BrandConfig() const;

    // Fills the MAC address and shows the list and an idle search.
    void Open();
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
    // Asks the running search to end: with `closeSocket` at once (Stop, closing the window),
    // otherwise at its next test of the flag (Cancel). False when no search runs.
    bool RequestStop(bool closeSocket);

    // Loads the waiting price file with the settings on screen (not saved); the message to show.
    // Raises what PollScalesFolders raises.
    TScalesNotice LoadNow(const TScalesFormValues& values);
    // Writes the settings file; empty when saved, else the warning that keeps the dialog open.
    // Raises EFileError when the file cannot be written.
    std::string Save(const TScalesFormValues& values);

private:
    TScaleBrandConfig& EditedBrand();
    void SearchFinished(const std::vector<TMassaDevice>& devices, bool cancelled, const std::string& error);

    TScalesEditorView& FView;
    const int FBrand;
    TScalesConfig FCfg;
    const TMassaDiscoveryParams FSearch;
    const TMassaTimeouts FLoadTimeouts;
    bool FDiscovering = false;
    // One flag per search, shared with its worker, so that an old worker never reads a new flag.
    std::shared_ptr<std::atomic<bool>> FDiscoverCancel;
    std::shared_ptr<TJobTracker> FJobs;
    TWorkerThreads FWorkers;
};

}  // namespace egaiss
