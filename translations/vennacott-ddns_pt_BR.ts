<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pt_BR">
<context>
    <name>AppDelegate</name>
    <message>
        <source>Could not save changes while quitting. Quit anyway?</source>
        <extracomment>Quit without saves error question message</extracomment>
        <translation>Não foi possível salvar as alterações ao sair. Sair mesmo assim?</translation>
    </message>
    <message>
        <source>Quitting now will lose any changes you have made since the last successful save</source>
        <extracomment>Quit without saves error question info</extracomment>
        <translation>Se você sair agora, perderá as alterações feitas desde o último salvamento bem-sucedido</translation>
    </message>
    <message>
        <source>Quit anyway</source>
        <extracomment>Quit anyway button title</extracomment>
        <translation>Sair mesmo assim</translation>
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
        <translation>&lt;h2&gt;Tudo pronto&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>All set</source>
        <translation>Tudo pronto</translation>
    </message>
    <message>
        <source>This computer can be reached as:</source>
        <translation>Este computador pode ser acessado como:</translation>
    </message>
    <message>
        <source>Registered host name</source>
        <translation>Nome de host registrado</translation>
    </message>
    <message>
        <source>Its address is updated every 10 seconds while Vennacott DDNS runs. Hide this window to keep it running; Close stops the updates.</source>
        <translation>O endereço dele é atualizado a cada 10 segundos enquanto o Vennacott DDNS estiver em execução. Oculte esta janela para mantê-lo em execução; “Fechar” interrompe as atualizações.</translation>
    </message>
    <message>
        <source>&amp;Reset</source>
        <translation>&amp;Redefinir</translation>
    </message>
    <message>
        <source>Reset: forget this host name</source>
        <translation>Redefinir: esquecer este nome de host</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Fechar</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Fechar o Vennacott DDNS</translation>
    </message>
    <message>
        <source>&amp;Hide</source>
        <translation>&amp;Ocultar</translation>
    </message>
    <message>
        <source>Hide the window and keep updating</source>
        <translation>Ocultar a janela e continuar atualizando</translation>
    </message>
    <message>
        <source>Waiting for the first update</source>
        <translation>Aguardando a primeira atualização</translation>
    </message>
</context>
<context>
    <name>HistoryWindow</name>
    <message>
        <source>updated</source>
        <translation>atualizado</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>recusado</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>sem resposta</translation>
    </message>
    <message>
        <source>not running</source>
        <translation>parado</translation>
    </message>
    <message>
        <source>Either family</source>
        <translation>Qualquer família</translation>
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
        <translation>%1 dias %2 h</translation>
    </message>
    <message>
        <source>Timeline</source>
        <translation>Linha do tempo</translation>
    </message>
    <message>
        <source>The same changes are listed in the tables below.</source>
        <translation>As mesmas mudanças estão nas tabelas abaixo.</translation>
    </message>
    <message>
        <source>now</source>
        <translation>agora</translation>
    </message>
    <message>
        <source>%1  %2: %3, %4</source>
        <translation>%1  %2: %3, %4</translation>
    </message>
    <message>
        <source>no address</source>
        <translation>sem endereço</translation>
    </message>
    <message>
        <source>History</source>
        <translation>Histórico</translation>
    </message>
    <message>
        <source>&amp;Show:</source>
        <translation>&amp;Mostrar:</translation>
    </message>
    <message>
        <source>Last day</source>
        <translation>Último dia</translation>
    </message>
    <message>
        <source>Last week</source>
        <translation>Última semana</translation>
    </message>
    <message>
        <source>Last month</source>
        <translation>Último mês</translation>
    </message>
    <message>
        <source>Nothing kept yet: the history starts with the updater&apos;s first update.</source>
        <translation>Nada registrado ainda: o histórico começa com a primeira atualização.</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Endereço</translation>
    </message>
    <message>
        <source>First seen</source>
        <translation>Visto pela primeira vez</translation>
    </message>
    <message>
        <source>Last seen</source>
        <translation>Visto pela última vez</translation>
    </message>
    <message>
        <source>How long</source>
        <translation>Duração</translation>
    </message>
    <message>
        <source>%1 addresses</source>
        <translation>Endereços %1</translation>
    </message>
    <message>
        <source>still in use</source>
        <translation>ainda em uso</translation>
    </message>
</context>
<context>
    <name>HostScreen</name>
    <message>
        <source>Choose a host name</source>
        <translation>Escolha um nome de host</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Choose a host name&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Escolha um nome de host&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>This computer&apos;s public address will be kept up to date under this name.</source>
        <translation>O endereço público deste computador será mantido atualizado com este nome.</translation>
    </message>
    <message>
        <source>Host name</source>
        <translation>Nome de host</translation>
    </message>
    <message>
        <source>my-computer</source>
        <translation>meu-computador</translation>
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
        <translation>⚠ Este nome de host não está disponível. Escolha outro.</translation>
    </message>
    <message>
        <source>Warning: host name not available</source>
        <translation>Aviso: nome de host indisponível</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fechar</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Fechar o Vennacott DDNS</translation>
    </message>
    <message>
        <source>&amp;Register</source>
        <translation>&amp;Registrar</translation>
    </message>
    <message>
        <source>Register host name</source>
        <translation>Registrar nome de host</translation>
    </message>
</context>
<context>
    <name>MainMenu</name>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Arquivo</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Salvar</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>Sai&amp;r</translation>
    </message>
    <message>
        <source>&amp;Update now</source>
        <translation>&amp;Atualizar agora</translation>
    </message>
    <message>
        <source>Sign &amp;out</source>
        <translation>&amp;Encerrar sessão</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>Aj&amp;uda</translation>
    </message>
    <message>
        <source>&amp;About Vennacott DDNS</source>
        <translation>&amp;Sobre o Vennacott DDNS</translation>
    </message>
    <message>
        <source>IPv4 and IPv6</source>
        <translation>IPv4 e IPv6</translation>
    </message>
    <message>
        <source>IPv4 only</source>
        <translation>Somente IPv4</translation>
    </message>
    <message>
        <source>IPv6 only</source>
        <translation>Somente IPv6</translation>
    </message>
    <message>
        <source>Keep sign-in in the system &amp;keyring</source>
        <translation>Guardar a sessão no &amp;chaveiro do sistema</translation>
    </message>
    <message>
        <source>&amp;History</source>
        <translation>&amp;Histórico</translation>
    </message>
</context>
<context>
    <name>Notifier</name>
    <message>
        <source>Updates of %1 fail</source>
        <translation>As atualizações de %1 estão falhando</translation>
    </message>
    <message>
        <source>Updates of %1 work again</source>
        <translation>As atualizações de %1 voltaram a funcionar</translation>
    </message>
    <message>
        <source>%1 now points at %2</source>
        <translation>%1 agora aponta para %2</translation>
    </message>
    <message>
        <source>The service saw %1 before.</source>
        <translation>Antes, o serviço via %1.</translation>
    </message>
    <message>
        <source>%1 now points at %2 over %3</source>
        <translation>%1 agora aponta para %2 via %3</translation>
    </message>
</context>
<context>
    <name>SignInScreen</name>
    <message>
        <source>Sign in</source>
        <translation>Entrar</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Sign in&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Entrar&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>Sign in with your Vennacott account to keep a host name pointing at this computer.</source>
        <translation>Entre com sua conta Vennacott para manter um nome de host apontando para este computador.</translation>
    </message>
    <message>
        <source>&amp;E-mail:</source>
        <translation>&amp;E-mail:</translation>
    </message>
    <message>
        <source>you@example.org</source>
        <translation>voce@example.org</translation>
    </message>
    <message>
        <source>E-mail address</source>
        <translation>Endereço de e-mail</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>&amp;Senha:</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Senha</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fechar</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Fechar o Vennacott DDNS</translation>
    </message>
    <message>
        <source>&amp;Sign in</source>
        <translation>E&amp;ntrar</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>Not set up: sign in and choose a host name in the window</source>
        <translation>Não configurado: entre e escolha um nome de host na janela</translation>
    </message>
    <message>
        <source>Show window</source>
        <translation>Mostrar janela</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>Iniciar com a sessão</translation>
    </message>
    <message>
        <source>Notifications</source>
        <translation>Notificações</translation>
    </message>
</context>
<context>
    <name>UpdaterStatus</name>
    <message>
        <source>the stored update link does not make a valid address</source>
        <translation>o link de atualização salvo não forma um endereço válido</translation>
    </message>
    <message>
        <source>HTTP status %1</source>
        <translation>status HTTP %1</translation>
    </message>
    <message>
        <source>the update server&apos;s reply is not a JSON object</source>
        <translation>a resposta do servidor de atualização não é um objeto JSON</translation>
    </message>
    <message>
        <source>Waiting for the first update</source>
        <translation>Aguardando a primeira atualização</translation>
    </message>
    <message>
        <source>Updated at %1</source>
        <translation>Atualizado às %1</translation>
    </message>
    <message>
        <source>Updated at %1 — the service sees %2</source>
        <translation>Atualizado às %1 — o serviço vê %2</translation>
    </message>
    <message>
        <source>The update server refused the last update at %1: %2</source>
        <translation>O servidor de atualização recusou a última atualização às %1: %2</translation>
    </message>
    <message numerus="yes">
        <source>No answer from the update server since %1; trying again every %n seconds</source>
        <translation>
            <numerusform>Sem resposta do servidor de atualização desde %1; nova tentativa a cada %n segundo</numerusform>
            <numerusform>Sem resposta do servidor de atualização desde %1; nova tentativa a cada %n segundos</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 and %2</source>
        <translation>%1 e %2</translation>
    </message>
    <message>
        <source>sent through the VPN interface %1: the service may have recorded the VPN&apos;s address</source>
        <translation>enviado pela interface VPN %1: o serviço pode ter registrado o endereço da VPN</translation>
    </message>
    <message>
        <source>your provider shares this address between customers: connections from the internet may not reach this computer</source>
        <translation>seu provedor compartilha este endereço entre clientes: conexões da internet podem não chegar a este computador</translation>
    </message>
    <message>
        <source>the service saw the private address %1: connections from the internet cannot reach it</source>
        <translation>o serviço viu o endereço privado %1: conexões da internet não conseguem alcançá-lo</translation>
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
        <translation>Entrando…</translation>
    </message>
    <message>
        <source>The e-mail address or password was not accepted.</source>
        <translation>O e-mail ou a senha não foram aceitos.</translation>
    </message>
    <message>
        <source>Registering…</source>
        <translation>Registrando…</translation>
    </message>
    <message>
        <source>The service could not be reached. Check the network connection and try again.</source>
        <translation>Não foi possível acessar o serviço. Verifique a conexão de rede e tente novamente.</translation>
    </message>
</context>
<context>
    <name>vennacott::AboutDialog</name>
    <message>
        <source>About Vennacott DDNS</source>
        <translation>Sobre o Vennacott DDNS</translation>
    </message>
    <message>
        <source>Service:</source>
        <translation>Serviço:</translation>
    </message>
    <message>
        <source>API %1
Updates %2
Zone %3</source>
        <translation>API %1
Atualizações %2
Zona %3</translation>
    </message>
    <message>
        <source>Settings:</source>
        <translation>Configurações:</translation>
    </message>
    <message>
        <source>Status:</source>
        <translation>Status:</translation>
    </message>
    <message>
        <source>History:</source>
        <translation>Histórico:</translation>
    </message>
    <message>
        <source>%1 (kept once the updater writes it)</source>
        <translation>%1 (criado quando o atualizador gravá-lo)</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Keys:</source>
        <translation>Atalhos:</translation>
    </message>
    <message>
        <source>Licence:</source>
        <translation>Licença:</translation>
    </message>
    <message>
        <source>Licence</source>
        <translation>Licença</translation>
    </message>
</context>
<context>
    <name>vennacott::Settings</name>
    <message>
        <source>No system keyring is running, so the sign-in kept there cannot be read. It is tried again every few seconds.</source>
        <translation>Nenhum chaveiro do sistema está em execução, então a sessão guardada nele não pode ser lida. Uma nova tentativa é feita a cada poucos segundos.</translation>
    </message>
    <message>
        <source>The system keyring is locked, so the sign-in kept there cannot be read yet. It is read as soon as the keyring is unlocked.</source>
        <translation>O chaveiro do sistema está bloqueado, então a sessão guardada nele ainda não pode ser lida. Ela será lida assim que o chaveiro for desbloqueado.</translation>
    </message>
    <message>
        <source>The sign-in could not be kept in the system keyring: no keyring is running.</source>
        <translation>Não foi possível guardar a sessão no chaveiro do sistema: nenhum chaveiro está em execução.</translation>
    </message>
    <message>
        <source>The sign-in could not be kept in the system keyring: it is locked.</source>
        <translation>Não foi possível guardar a sessão no chaveiro do sistema: ele está bloqueado.</translation>
    </message>
    <message>
        <source>The sign-in can move back to the settings file only once the system keyring can be read.</source>
        <translation>A sessão só pode voltar ao arquivo de configurações quando o chaveiro do sistema puder ser lido.</translation>
    </message>
    <message>
        <source>The sign-in stays in the settings file: no system keyring is running.</source>
        <translation>A sessão continua no arquivo de configurações: nenhum chaveiro do sistema está em execução.</translation>
    </message>
    <message>
        <source>The sign-in stays in the settings file: the system keyring is locked.</source>
        <translation>A sessão continua no arquivo de configurações: o chaveiro do sistema está bloqueado.</translation>
    </message>
</context>
</TS>
