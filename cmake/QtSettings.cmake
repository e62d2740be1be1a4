# Strict Qt: no implicit conversions between char* and QString (every text is
# spelled as a UTF-16 literal or converted on purpose), and no deprecated API.
add_library(linewatch_qt_strict INTERFACE)
target_compile_definitions(linewatch_qt_strict INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_KEYWORDS
    QT_DISABLE_DEPRECATED_BEFORE=0x060400)
