<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- A tiny translation for the tests: a few of the settings window's texts. -->
<TS version="2.1" language="eo" sourcelanguage="en">
<context>
    <name>pondra::SettingsView</name>
    <message>
        <source>Pondra Settings</source>
        <translation>Agordoj de Pondra</translation>
    </message>
    <message>
        <source>Server URL</source>
        <translation>Adreso de la servilo</translation>
    </message>
    <message>
        <source>Every 5 minutes</source>
        <translation>Ĉiujn 5 minutojn</translation>
    </message>
</context>
</TS>
