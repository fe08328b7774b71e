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
<context>
    <name>DoneScreen</name>
    <message>
        <source>Host registered</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;h2&gt;All set&lt;/h2&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>All set</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This computer can be reached as:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Registered host name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Its address is updated every 10 seconds while Vennacott DDNS runs. Hide this window to keep it running; Close stops the updates.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Reset</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset: forget this host name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Hide</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hide the window and keep updating</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting for the first update</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>HistoryWindow</name>
    <message>
        <source>updated</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>refused</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no answer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not running</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Either family</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 days %2 h</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Timeline</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The same changes are listed in the tables below.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1  %2: %3, %4</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>History</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Show:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Last day</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Last week</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Last month</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nothing kept yet: the history starts with the updater&apos;s first update.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>First seen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Last seen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>How long</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 addresses</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>still in use</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>HostScreen</name>
    <message>
        <source>Choose a host name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;h2&gt;Choose a host name&lt;/h2&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This computer&apos;s public address will be kept up to date under this name.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Host name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>my-computer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>.zone</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zone</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>⚠ This host name is not available. Please choose another one.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Warning: host name not available</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Register</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Register host name</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MainMenu</name>
    <message>
        <source>&amp;File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Update now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign &amp;out</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;About Vennacott DDNS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>IPv4 and IPv6</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>IPv4 only</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>IPv6 only</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keep sign-in in the system &amp;keyring</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;History</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Notifier</name>
    <message>
        <source>Updates of %1 fail</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Updates of %1 work again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 now points at %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The service saw %1 before.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 now points at %2 over %3</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SignInScreen</name>
    <message>
        <source>Sign in</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;h2&gt;Sign in&lt;/h2&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign in with your Vennacott account to keep a host name pointing at this computer.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;E-mail:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>you@example.org</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>E-mail address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Password</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Sign in</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>Not set up: sign in and choose a host name in the window</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show window</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Notifications</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>UpdaterStatus</name>
    <message>
        <source>the stored update link does not make a valid address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HTTP status %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the update server&apos;s reply is not a JSON object</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting for the first update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Updated at %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Updated at %1 — the service sees %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The update server refused the last update at %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>No answer from the update server since %1; trying again every %n seconds</source>
        <translation type="unfinished">
            <numerusform></numerusform>
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>%1 and %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>sent through the VPN interface %1: the service may have recorded the VPN&apos;s address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>your provider shares this address between customers: connections from the internet may not reach this computer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the service saw the private address %1: connections from the internet cannot reach it</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ViewController</name>
    <message>
        <source>Signing in…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The e-mail address or password was not accepted.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Registering…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The service could not be reached. Check the network connection and try again.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>vennacott::AboutDialog</name>
    <message>
        <source>About Vennacott DDNS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Service:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>API %1
Updates %2
Zone %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Settings:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Status:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>History:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 (kept once the updater writes it)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keys:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Licence:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Licence</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>vennacott::Settings</name>
    <message>
        <source>No system keyring is running, so the sign-in kept there cannot be read. It is tried again every few seconds.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The system keyring is locked, so the sign-in kept there cannot be read yet. It is read as soon as the keyring is unlocked.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The sign-in could not be kept in the system keyring: no keyring is running.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The sign-in could not be kept in the system keyring: it is locked.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The sign-in can move back to the settings file only once the system keyring can be read.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The sign-in stays in the settings file: no system keyring is running.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The sign-in stays in the settings file: the system keyring is locked.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
