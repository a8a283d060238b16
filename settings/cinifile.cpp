// Temporary stand-in: reads give Default, writes fail. Replaced by the INI engine.
#include "cinifile.h"

#include "form_window.h"

namespace tw {

int32_t cInifile::LastReturnCode() const { return m_lLastReturnCode; }
bool cInifile::Success() const { return m_lLastReturnCode != 0; }
void cInifile::Default(const QString& sDefault) { m_sDefault = sDefault; }
QString cInifile::Default() const { return m_sDefault; }
void cInifile::Path(const QString& sPath) { m_sPath = sPath; }
QString cInifile::Path() const { return m_sPath; }
void cInifile::Key(const QString& sKey) { m_sKey = sKey; }
QString cInifile::Key() const { return m_sKey; }
void cInifile::Section(const QString& sSection) { m_sSection = sSection; }
QString cInifile::Section() const { return m_sSection; }
QString cInifile::Value() const { return m_sDefault.left(254); }
void cInifile::Value(const QString&) { m_lLastReturnCode = 0; }
void cInifile::DeleteKey() { m_lLastReturnCode = 0; }
void cInifile::DeleteSection() { m_lLastReturnCode = 0; }
QString cInifile::INISection() const { return {}; }
void cInifile::INISection(const QString&) { m_lLastReturnCode = 0; }
QString cInifile::Sections() const { return {}; }
void cInifile::EnumerateCurrentSection(QStringList& sKey, int32_t& iCount) const { sKey.clear(); iCount = 0; }
void cInifile::EnumerateAllSections(QStringList& sSections, int32_t& iCount) const { sSections.clear(); iCount = 0; }
void cInifile::SaveFormPosition(FormWindow&) {}
void cInifile::LoadFormPosition(FormWindow&, int32_t, int32_t) {}
int32_t cInifile::CLngDefault(const QString&, int32_t lDefault) { return lDefault; }

} // namespace tw
