#pragma once

#include <gtest/gtest.h>

#include <iostream>
#include <string>

/** Captures what the process writes to standard output while it lives (loader diagnostics). */
class StdoutCapture
{
public:
    StdoutCapture() { ::testing::internal::CaptureStdout(); }

    ~StdoutCapture()
    {
        if (!taken)
            ::testing::internal::GetCapturedStdout();
    }

    std::string take()
    {
        std::cout << std::flush;
        taken = true;
        return ::testing::internal::GetCapturedStdout();
    }

private:
    bool taken = false;
};
