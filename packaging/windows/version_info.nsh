; The setup program's version resource. Before it runs a downloaded setup program the updater
; reads its ProductName and file version, and refuses another product or a version that is
; not newer than the installed one. Needs PRODUCT and VERSION_QUAD (four numbers).
VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION_QUAD}"
VIAddVersionKey "FileVersion" "${VERSION_QUAD}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "LegalCopyright" "Quietway developers"
