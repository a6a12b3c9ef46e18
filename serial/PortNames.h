// The names of the serial ports the dialog offers: "COM1" to "COM20".
#pragma once

#include <string>

class PortNameTable
{
public:
    static const int kCount = 20;

    PortNameTable();
    const std::string& operator[](int i) const { return m_names[i]; }

private:
    std::string m_names[kCount];
};

// Built during static initialisation, after the application object: both
// are defined together, in app/UpdateApp.cpp, which every program that has
// the dialog links. Never changed.
extern const PortNameTable PortNames;
