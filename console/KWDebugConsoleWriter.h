#pragma once

class KWDebugConsole;

/** The interface through which the container's editor is handed the process-wide console. */
class KWDebugConsoleWriter
{
public:
    virtual void attachConsole(KWDebugConsole* console) { attachedConsole = console; }
    virtual ~KWDebugConsoleWriter() = default;

protected:
    KWDebugConsole* attachedConsole = nullptr; // not owned
};
