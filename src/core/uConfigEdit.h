#pragma once
// Editing agent.ini as the settings dialog and `config --set` do: the text being edited, the check
// before saving and the save, so that both write the file the same way.
#include <string>

#include "core/uEgaissConfig.h"

namespace egaiss {

// Refusal of settings that are not complete; the same whichever fields are missing.
inline constexpr const char* MissingFieldsMessage =
    "Missing fields: server_url, agent_id, agent_secret, utm_host, utm_port.";

// Settings being edited: agent.ini's text without its autostart and fsrar_id lines (comments and
// scale keys stay), with the autostart flag kept apart.
struct TConfigDraft {
    std::string Text;
    bool AutoStart = false;

    // The settings saving would give.
    TEgaissConfig Parsed() const;
    bool IsComplete() const { return Parsed().IsComplete(); }
};

// Why the draft may not be saved: the missing-fields message, or the refusal of its server address
// naming the key (the check `config --set` applies to a value given for it); empty when it may.
std::string DraftRefusal(const TConfigDraft& draft);

// The draft of the current agent.ini; an empty text when there is none. Raises EFileError when
// the file exists but cannot be read.
TConfigDraft LoadConfigDraft();

// Writes agent.ini and the autostart entry from the draft and returns the settings read back from
// the file. The caller checks IsComplete first. Raises EFileError.
TEgaissConfig SaveConfigDraft(const TConfigDraft& draft);

// Sets one agent setting in the draft: `key` in any letter case, `value` trimmed. The line of the
// key is replaced (later lines of the same key removed) or appended; autostart goes to the flag.
// Returns why the key or value is refused, empty when it was set.
std::string SetDraftValue(TConfigDraft& draft, const std::string& key, const std::string& value);

}  // namespace egaiss
