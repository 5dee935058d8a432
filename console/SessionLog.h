#pragma once

#include <juce_core/juce_core.h>

/**
    The session's log file: every container's events (loads, unloads, switches, crashes with their
    cause, recoveries, restores), one time-stamped line each, so that what happened on stage can
    be read afterwards. One file per process (a host's session):

        <user data folder>/PluginPendulum/logs/session-<yyyy-mm-dd_hh-mm-ss>-<pid>.log

    where the user data folder is juce::File::userApplicationDataDirectory (~/.config on Linux,
    %APPDATA% on Windows). The environment variable PENDULUM_LOG_DIR, or setFolder, puts the logs
    elsewhere (tests do, so they never write into the real home).

    A line reads "2026-12-11 12:04:31.250  <instance name>  slot 1 crashed (...); playing slot 2",
    slots counted from 1. The file is made with the first line and appended to (opened and closed
    per line, so a crash of the host loses nothing written). Never from the audio thread: callers
    are the message thread's operations. Thread-safe; failures to write are ignored.
*/
namespace session_log
{
/** Where the logs go from now on; a default File goes back to the environment or the default. */
void setFolder(const juce::File& folder);

/** The folder the logs go to now. */
juce::File folder();

/** This session's file in the current folder (it exists once a line was written). */
juce::File currentFile();

/** Appends a line for the container named `instanceName`. */
void write(const juce::String& instanceName, const juce::String& text);
} // namespace session_log
