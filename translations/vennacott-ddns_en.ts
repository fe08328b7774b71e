<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>AppDelegate</name>
    <message>
        <source>Could not save changes while quitting. Quit anyway?</source>
        <extracomment>Quit without saves error question message</extracomment>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quitting now will lose any changes you have made since the last successful save</source>
        <extracomment>Quit without saves error question info</extracomment>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit anyway</source>
        <extracomment>Quit anyway button title</extracomment>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <extracomment>Cancel button title</extracomment>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
