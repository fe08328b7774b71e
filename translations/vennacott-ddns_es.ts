<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es">
<context>
    <name>AppDelegate</name>
    <message>
        <source>Could not save changes while quitting. Quit anyway?</source>
        <extracomment>Quit without saves error question message</extracomment>
        <translation>No se pudieron guardar los cambios al salir. ¿Salir de todos modos?</translation>
    </message>
    <message>
        <source>Quitting now will lose any changes you have made since the last successful save</source>
        <extracomment>Quit without saves error question info</extracomment>
        <translation>Si sale ahora, perderá los cambios hechos desde el último guardado correcto</translation>
    </message>
    <message>
        <source>Quit anyway</source>
        <extracomment>Quit anyway button title</extracomment>
        <translation>Salir de todos modos</translation>
    </message>
    <message>
        <source>Cancel</source>
        <extracomment>Cancel button title</extracomment>
        <translation>Cancelar</translation>
    </message>
</context>
<context>
    <name>DoneScreen</name>
    <message>
        <source>Host registered</source>
        <translation>Host registrado</translation>
    </message>
    <message>
        <source>&lt;h2&gt;All set&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Todo listo&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>All set</source>
        <translation>Todo listo</translation>
    </message>
    <message>
        <source>This computer can be reached as:</source>
        <translation>Este equipo es accesible como:</translation>
    </message>
    <message>
        <source>Registered host name</source>
        <translation>Nombre de host registrado</translation>
    </message>
    <message>
        <source>Its address is updated every 10 seconds while Vennacott DDNS runs. Hide this window to keep it running; Close stops the updates.</source>
        <translation>Su dirección se actualiza cada 10 segundos mientras Vennacott DDNS esté en marcha. Oculte esta ventana para que siga funcionando; «Cerrar» detiene las actualizaciones.</translation>
    </message>
    <message>
        <source>&amp;Reset</source>
        <translation>&amp;Restablecer</translation>
    </message>
    <message>
        <source>Reset: forget this host name</source>
        <translation>Restablecer: olvidar este nombre de host</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Cerrar</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Cerrar Vennacott DDNS</translation>
    </message>
    <message>
        <source>&amp;Hide</source>
        <translation>&amp;Ocultar</translation>
    </message>
    <message>
        <source>Hide the window and keep updating</source>
        <translation>Ocultar la ventana y seguir actualizando</translation>
    </message>
    <message>
        <source>Waiting for the first update</source>
        <translation>Esperando la primera actualización</translation>
    </message>
</context>
<context>
    <name>HistoryWindow</name>
    <message>
        <source>updated</source>
        <translation>actualizado</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>rechazado</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>sin respuesta</translation>
    </message>
    <message>
        <source>not running</source>
        <translation>no en ejecución</translation>
    </message>
    <message>
        <source>Either family</source>
        <translation>Cualquier familia</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>%1 days %2 h</source>
        <translation>%1 días %2 h</translation>
    </message>
    <message>
        <source>Timeline</source>
        <translation>Cronología</translation>
    </message>
    <message>
        <source>The same changes are listed in the tables below.</source>
        <translation>Los mismos cambios aparecen en las tablas de abajo.</translation>
    </message>
    <message>
        <source>now</source>
        <translation>ahora</translation>
    </message>
    <message>
        <source>%1  %2: %3, %4</source>
        <translation>%1  %2: %3, %4</translation>
    </message>
    <message>
        <source>no address</source>
        <translation>sin dirección</translation>
    </message>
    <message>
        <source>History</source>
        <translation>Historial</translation>
    </message>
    <message>
        <source>&amp;Show:</source>
        <translation>&amp;Mostrar:</translation>
    </message>
    <message>
        <source>Last day</source>
        <translation>Último día</translation>
    </message>
    <message>
        <source>Last week</source>
        <translation>Última semana</translation>
    </message>
    <message>
        <source>Last month</source>
        <translation>Último mes</translation>
    </message>
    <message>
        <source>Nothing kept yet: the history starts with the updater&apos;s first update.</source>
        <translation>Aún no hay nada: el historial empieza con la primera actualización.</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Dirección</translation>
    </message>
    <message>
        <source>First seen</source>
        <translation>Visto por primera vez</translation>
    </message>
    <message>
        <source>Last seen</source>
        <translation>Visto por última vez</translation>
    </message>
    <message>
        <source>How long</source>
        <translation>Duración</translation>
    </message>
    <message>
        <source>%1 addresses</source>
        <translation>Direcciones %1</translation>
    </message>
    <message>
        <source>still in use</source>
        <translation>aún en uso</translation>
    </message>
</context>
<context>
    <name>HostScreen</name>
    <message>
        <source>Choose a host name</source>
        <translation>Elija un nombre de host</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Choose a host name&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Elija un nombre de host&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>This computer&apos;s public address will be kept up to date under this name.</source>
        <translation>La dirección pública de este equipo se mantendrá actualizada con este nombre.</translation>
    </message>
    <message>
        <source>Host name</source>
        <translation>Nombre de host</translation>
    </message>
    <message>
        <source>my-computer</source>
        <translation>mi-equipo</translation>
    </message>
    <message>
        <source>.zone</source>
        <translation>.zone</translation>
    </message>
    <message>
        <source>Zone</source>
        <translation>Zona</translation>
    </message>
    <message>
        <source>⚠ This host name is not available. Please choose another one.</source>
        <translation>⚠ Este nombre de host no está disponible. Elija otro.</translation>
    </message>
    <message>
        <source>Warning: host name not available</source>
        <translation>Aviso: nombre de host no disponible</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Cerrar Vennacott DDNS</translation>
    </message>
    <message>
        <source>&amp;Register</source>
        <translation>&amp;Registrar</translation>
    </message>
    <message>
        <source>Register host name</source>
        <translation>Registrar nombre de host</translation>
    </message>
</context>
<context>
    <name>MainMenu</name>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Archivo</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Guardar</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Salir</translation>
    </message>
    <message>
        <source>&amp;Update now</source>
        <translation>&amp;Actualizar ahora</translation>
    </message>
    <message>
        <source>Sign &amp;out</source>
        <translation>&amp;Cerrar sesión</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>A&amp;yuda</translation>
    </message>
    <message>
        <source>&amp;About Vennacott DDNS</source>
        <translation>&amp;Acerca de Vennacott DDNS</translation>
    </message>
    <message>
        <source>IPv4 and IPv6</source>
        <translation>IPv4 e IPv6</translation>
    </message>
    <message>
        <source>IPv4 only</source>
        <translation>Solo IPv4</translation>
    </message>
    <message>
        <source>IPv6 only</source>
        <translation>Solo IPv6</translation>
    </message>
    <message>
        <source>Keep sign-in in the system &amp;keyring</source>
        <translation>Guardar la sesión en el &amp;llavero del sistema</translation>
    </message>
    <message>
        <source>&amp;History</source>
        <translation>&amp;Historial</translation>
    </message>
</context>
<context>
    <name>Notifier</name>
    <message>
        <source>Updates of %1 fail</source>
        <translation>Fallan las actualizaciones de %1</translation>
    </message>
    <message>
        <source>Updates of %1 work again</source>
        <translation>Las actualizaciones de %1 vuelven a funcionar</translation>
    </message>
    <message>
        <source>%1 now points at %2</source>
        <translation>%1 apunta ahora a %2</translation>
    </message>
    <message>
        <source>The service saw %1 before.</source>
        <translation>Antes el servicio veía %1.</translation>
    </message>
    <message>
        <source>%1 now points at %2 over %3</source>
        <translation>%1 apunta ahora a %2 por %3</translation>
    </message>
</context>
<context>
    <name>SignInScreen</name>
    <message>
        <source>Sign in</source>
        <translation>Iniciar sesión</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Sign in&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Iniciar sesión&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>Sign in with your Vennacott account to keep a host name pointing at this computer.</source>
        <translation>Inicie sesión con su cuenta de Vennacott para que un nombre de host apunte siempre a este equipo.</translation>
    </message>
    <message>
        <source>&amp;E-mail:</source>
        <translation>Correo &amp;electrónico:</translation>
    </message>
    <message>
        <source>you@example.org</source>
        <translation>nombre@example.org</translation>
    </message>
    <message>
        <source>E-mail address</source>
        <translation>Dirección de correo electrónico</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>&amp;Contraseña:</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Contraseña</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Cerrar Vennacott DDNS</translation>
    </message>
    <message>
        <source>&amp;Sign in</source>
        <translation>&amp;Iniciar sesión</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>Not set up: sign in and choose a host name in the window</source>
        <translation>Sin configurar: inicie sesión y elija un nombre de host en la ventana</translation>
    </message>
    <message>
        <source>Show window</source>
        <translation>Mostrar ventana</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>Abrir al iniciar sesión</translation>
    </message>
    <message>
        <source>Notifications</source>
        <translation>Notificaciones</translation>
    </message>
</context>
<context>
    <name>UpdaterStatus</name>
    <message>
        <source>the stored update link does not make a valid address</source>
        <translation>el enlace de actualización guardado no forma una dirección válida</translation>
    </message>
    <message>
        <source>HTTP status %1</source>
        <translation>estado HTTP %1</translation>
    </message>
    <message>
        <source>the update server&apos;s reply is not a JSON object</source>
        <translation>la respuesta del servidor de actualización no es un objeto JSON</translation>
    </message>
    <message>
        <source>Waiting for the first update</source>
        <translation>Esperando la primera actualización</translation>
    </message>
    <message>
        <source>Updated at %1</source>
        <translation>Actualizado a las %1</translation>
    </message>
    <message>
        <source>Updated at %1 — the service sees %2</source>
        <translation>Actualizado a las %1 — el servicio ve %2</translation>
    </message>
    <message>
        <source>The update server refused the last update at %1: %2</source>
        <translation>El servidor de actualización rechazó la última actualización a las %1: %2</translation>
    </message>
    <message numerus="yes">
        <source>No answer from the update server since %1; trying again every %n seconds</source>
        <translation>
            <numerusform>Sin respuesta del servidor de actualización desde las %1; se reintenta cada %n segundo</numerusform>
            <numerusform>Sin respuesta del servidor de actualización desde las %1; se reintenta cada %n segundos</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 and %2</source>
        <translation>%1 y %2</translation>
    </message>
    <message>
        <source>sent through the VPN interface %1: the service may have recorded the VPN&apos;s address</source>
        <translation>enviado por la interfaz VPN %1: el servicio puede haber registrado la dirección de la VPN</translation>
    </message>
    <message>
        <source>your provider shares this address between customers: connections from the internet may not reach this computer</source>
        <translation>su proveedor comparte esta dirección entre clientes: es posible que las conexiones desde Internet no lleguen a este equipo</translation>
    </message>
    <message>
        <source>the service saw the private address %1: connections from the internet cannot reach it</source>
        <translation>el servicio vio la dirección privada %1: las conexiones desde Internet no pueden llegar a ella</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
</context>
<context>
    <name>ViewController</name>
    <message>
        <source>Signing in…</source>
        <translation>Iniciando sesión…</translation>
    </message>
    <message>
        <source>The e-mail address or password was not accepted.</source>
        <translation>No se aceptó la dirección de correo o la contraseña.</translation>
    </message>
    <message>
        <source>Registering…</source>
        <translation>Registrando…</translation>
    </message>
    <message>
        <source>The service could not be reached. Check the network connection and try again.</source>
        <translation>No se pudo contactar con el servicio. Compruebe la conexión de red e inténtelo de nuevo.</translation>
    </message>
</context>
<context>
    <name>vennacott::AboutDialog</name>
    <message>
        <source>About Vennacott DDNS</source>
        <translation>Acerca de Vennacott DDNS</translation>
    </message>
    <message>
        <source>Service:</source>
        <translation>Servicio:</translation>
    </message>
    <message>
        <source>API %1
Updates %2
Zone %3</source>
        <translation>API %1
Actualizaciones %2
Zona %3</translation>
    </message>
    <message>
        <source>Settings:</source>
        <translation>Configuración:</translation>
    </message>
    <message>
        <source>Status:</source>
        <translation>Estado:</translation>
    </message>
    <message>
        <source>History:</source>
        <translation>Historial:</translation>
    </message>
    <message>
        <source>%1 (kept once the updater writes it)</source>
        <translation>%1 (se crea cuando el actualizador lo escriba)</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Keys:</source>
        <translation>Atajos de teclado:</translation>
    </message>
    <message>
        <source>Licence:</source>
        <translation>Licencia:</translation>
    </message>
    <message>
        <source>Licence</source>
        <translation>Licencia</translation>
    </message>
</context>
<context>
    <name>vennacott::Settings</name>
    <message>
        <source>No system keyring is running, so the sign-in kept there cannot be read. It is tried again every few seconds.</source>
        <translation>No hay ningún llavero del sistema en marcha, así que la sesión guardada en él no se puede leer. Se vuelve a intentar cada pocos segundos.</translation>
    </message>
    <message>
        <source>The system keyring is locked, so the sign-in kept there cannot be read yet. It is read as soon as the keyring is unlocked.</source>
        <translation>El llavero del sistema está bloqueado, así que la sesión guardada en él aún no se puede leer. Se leerá en cuanto se desbloquee el llavero.</translation>
    </message>
    <message>
        <source>The sign-in could not be kept in the system keyring: no keyring is running.</source>
        <translation>No se pudo guardar la sesión en el llavero del sistema: no hay ningún llavero en marcha.</translation>
    </message>
    <message>
        <source>The sign-in could not be kept in the system keyring: it is locked.</source>
        <translation>No se pudo guardar la sesión en el llavero del sistema: está bloqueado.</translation>
    </message>
    <message>
        <source>The sign-in can move back to the settings file only once the system keyring can be read.</source>
        <translation>La sesión solo puede volver al archivo de configuración cuando se pueda leer el llavero del sistema.</translation>
    </message>
    <message>
        <source>The sign-in stays in the settings file: no system keyring is running.</source>
        <translation>La sesión sigue en el archivo de configuración: no hay ningún llavero del sistema en marcha.</translation>
    </message>
    <message>
        <source>The sign-in stays in the settings file: the system keyring is locked.</source>
        <translation>La sesión sigue en el archivo de configuración: el llavero del sistema está bloqueado.</translation>
    </message>
</context>
</TS>
