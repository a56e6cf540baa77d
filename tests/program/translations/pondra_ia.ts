<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- A second tiny translation for the tests, to tell which one was loaded. -->
<TS version="2.1" language="ia" sourcelanguage="en">
<context>
    <name>pondra::SettingsView</name>
    <message>
        <source>Pondra Settings</source>
        <translation>Configuration de Pondra</translation>
    </message>
</context>
</TS>
