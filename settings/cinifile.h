#pragma once
// cInifile: the application's access to its settings file. A caller points the
// object at a file (Path), a section (Section) and a key (Key), may set the text a
// read returns for an absent key (Default), and reads or writes the key through
// Value. The object keeps all four between calls and holds no open file: every
// member that touches the file is exactly one call into the INI engine.
//
// Reads never fail (a missing file, section or key reads as Default). Writes and
// deletions store the engine's result in LastReturnCode (0 = failure), which
// Success reports; nothing is thrown.
//
// Properties read as Name() and are set as Name(value).

#include <QString>
#include <QStringList>

#include <cstdint>

namespace tw {

class FormWindow;

class cInifile {
public:
    int32_t LastReturnCode() const;
    bool Success() const;

    void Default(const QString& sDefault);
    QString Default() const;
    void Path(const QString& sPath);
    QString Path() const;
    void Key(const QString& sKey);
    QString Key() const;
    void Section(const QString& sSection);
    QString Section() const;

    // The current key's text: at most 254 characters, Default for an absent key.
    QString Value() const;
    // Writes sValue (less any NUL characters) as the current key's text.
    void Value(const QString& sValue);

    void DeleteKey();
    void DeleteSection();

    // The key names of the current section, each followed by a NUL (at most 8190
    // characters); setting it removes the current section, as DeleteSection does.
    QString INISection() const;
    void INISection(const QString& sSection);
    // The section names of the file, in the same form.
    QString Sections() const;

    // Fill sKey / sSections with the names (entry 0 of the list is name 1) and
    // set iCount to their number.
    void EnumerateCurrentSection(QStringList& sKey, int32_t& iCount) const;
    void EnumerateAllSections(QStringList& sSections, int32_t& iCount) const;

    void SaveFormPosition(FormWindow& frmThis);
    void LoadFormPosition(FormWindow& frmThis, int32_t lMinWidth = 3000, int32_t lMinHeight = 3000);

    // sString as a 32-bit integer under the system locale (halves to even), or
    // lDefault when it is no number or out of range. Never throws.
    static int32_t CLngDefault(const QString& sString, int32_t lDefault = 0);

private:
    QString m_sPath;
    QString m_sKey;
    QString m_sSection;
    QString m_sDefault;
    int32_t m_lLastReturnCode = 0;
};

} // namespace tw
