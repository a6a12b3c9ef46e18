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

// The table, built on its first use and never changed. Every program with
// the dialog defines its application object at namespace scope, so that
// object is built before the program's entry point, and the first use comes
// later, when the dialog lists the ports. Objects of static storage duration
// are destroyed in the reverse order of their construction, a function's
// static one too: the table goes before the application object.
const PortNameTable& PortNames();
