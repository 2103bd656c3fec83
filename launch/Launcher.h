// Finding the stand-alone application through the plug-in's settings file,
// starting it on the job description and waiting until it has ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/ApplicationSetting.h"

class IWaitNote;
class WorkFolderLock;

// The command line buffer handed to the system: at most 518 characters.
constexpr size_t kCommandLineSize = 519;

// What to start the application on.
struct LaunchRequest {
  std::string argument;  // the job description's full path
  bool wait = true;      // what the caller asks for; Start always sets it
  // The host's main window, brought back to the front after the wait; 0 when
  // the host named none.
  intptr_t ownerWindow = 0;
  // The working folder's lock, shared with the application for as long as it
  // runs; none when null.
  const WorkFolderLock* lock = nullptr;
  // Shown while the application runs; none when null.
  IWaitNote* note = nullptr;
};

// The user's own profile folder with a trailing backslash, in the ANSI code
// page (its short form when its own name does not convert exactly). False,
// with the path empty, when the system gives none or it has no exact narrow
// form.
bool GetProfileFolder(std::string& path);

// The application's folder, with a trailing backslash: from the user's
// settings file under the profile folder, or, when the user has none, from
// the machine-wide setting (FindApplicationSetting, ReadMachineApplicationPath).
// False, with the path empty, when neither gives an absolute folder
// (IsAbsoluteFolder); the failure is noted for the user. When source is not
// null it receives what the folder was read from (or would have been), for
// the words of a later failure.
bool FindApplicationFolder(std::string& path, std::string* source = nullptr);

// Forms `"<executable>" "<argument>"` in the zero-filled buffer. Backslashes
// that end the argument are doubled so that the closing quote stays a quote
// for the application's argument parser. False, with the buffer all zero, when
// either part holds a double quote (no path can, and it would split the
// command line) or the text would not fit in kCommandLineSize - 1 characters.
bool FormatCommandLine(const std::string& executable, const std::string& argument,
                       char (&buffer)[kCommandLineSize]);

// Starts <application folder>\Velmora.exe on the request's argument with the
// host's environment and current folder and, when wait is true, returns only
// after the process has ended, waiting modally: the calling thread's messages
// are served and its top-level windows disabled meanwhile, with the request's
// owner window brought back to the front afterwards and the request's note
// shown meanwhile (WaitModally). The
// process starts suspended and runs only once it holds a duplicate of the
// request's lock, so there is no moment in which the host's end would free
// the working folder while the application can still write into it. 0 when it
// started (and, when waiting, ended, with whatever exit code); -30901 when the
// folder is not found, the command line does not fit, the start fails or the
// wait fails. Nothing is started for a command line that does not fit. Never
// leaves a process or thread handle open. When the process has ended and
// exitCode is not null, *exitCode receives its exit status (an exception
// code for a process that crashed); it is left alone otherwise. Every
// failure notes for the user what went wrong (NoteFailure). When started is
// not null, *started tells whether the application ran at all (it may have
// used its files even when the wait failed).
int16_t LaunchApplication(const LaunchRequest& request, bool wait, uint32_t* exitCode = nullptr,
                          bool* started = nullptr);
