<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja">
<context>
    <name>AppDelegate</name>
    <message>
        <source>Could not save changes while quitting. Quit anyway?</source>
        <extracomment>Quit without saves error question message</extracomment>
        <translation>終了時に変更を保存できませんでした。このまま終了しますか？</translation>
    </message>
    <message>
        <source>Quitting now will lose any changes you have made since the last successful save</source>
        <extracomment>Quit without saves error question info</extracomment>
        <translation>今終了すると、最後に保存に成功してからの変更はすべて失われます</translation>
    </message>
    <message>
        <source>Quit anyway</source>
        <extracomment>Quit anyway button title</extracomment>
        <translation>このまま終了</translation>
    </message>
    <message>
        <source>Cancel</source>
        <extracomment>Cancel button title</extracomment>
        <translation>キャンセル</translation>
    </message>
</context>
<context>
    <name>DoneScreen</name>
    <message>
        <source>Host registered</source>
        <translation>ホストを登録しました</translation>
    </message>
    <message>
        <source>&lt;h2&gt;All set&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;設定完了&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>All set</source>
        <translation>設定完了</translation>
    </message>
    <message>
        <source>This computer can be reached as:</source>
        <translation>このコンピューターには次の名前でアクセスできます:</translation>
    </message>
    <message>
        <source>Registered host name</source>
        <translation>登録済みのホスト名</translation>
    </message>
    <message>
        <source>Its address is updated every 10 seconds while Vennacott DDNS runs. Hide this window to keep it running; Close stops the updates.</source>
        <translation>Vennacott DDNS の実行中は、アドレスが 10 秒ごとに更新されます。実行を続けるにはこのウィンドウを隠してください。「閉じる」で更新は止まります。</translation>
    </message>
    <message>
        <source>&amp;Reset</source>
        <translation>リセット(&amp;R)</translation>
    </message>
    <message>
        <source>Reset: forget this host name</source>
        <translation>リセット: このホスト名を破棄</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>閉じる(&amp;C)</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Vennacott DDNS を閉じる</translation>
    </message>
    <message>
        <source>&amp;Hide</source>
        <translation>隠す(&amp;H)</translation>
    </message>
    <message>
        <source>Hide the window and keep updating</source>
        <translation>ウィンドウを隠して更新を続ける</translation>
    </message>
    <message>
        <source>Waiting for the first update</source>
        <translation>最初の更新を待っています</translation>
    </message>
</context>
<context>
    <name>HistoryWindow</name>
    <message>
        <source>updated</source>
        <translation>更新済み</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>拒否</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>応答なし</translation>
    </message>
    <message>
        <source>not running</source>
        <translation>停止中</translation>
    </message>
    <message>
        <source>Either family</source>
        <translation>いずれかのファミリー</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 分</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 時間 %2 分</translation>
    </message>
    <message>
        <source>%1 days %2 h</source>
        <translation>%1 日 %2 時間</translation>
    </message>
    <message>
        <source>Timeline</source>
        <translation>タイムライン</translation>
    </message>
    <message>
        <source>The same changes are listed in the tables below.</source>
        <translation>同じ変更が下の表に一覧表示されています。</translation>
    </message>
    <message>
        <source>now</source>
        <translation>現在</translation>
    </message>
    <message>
        <source>%1  %2: %3, %4</source>
        <translation>%1  %2: %3、%4</translation>
    </message>
    <message>
        <source>no address</source>
        <translation>アドレスなし</translation>
    </message>
    <message>
        <source>History</source>
        <translation>履歴</translation>
    </message>
    <message>
        <source>&amp;Show:</source>
        <translation>表示(&amp;S):</translation>
    </message>
    <message>
        <source>Last day</source>
        <translation>過去 1 日</translation>
    </message>
    <message>
        <source>Last week</source>
        <translation>過去 1 週間</translation>
    </message>
    <message>
        <source>Last month</source>
        <translation>過去 1 か月</translation>
    </message>
    <message>
        <source>Nothing kept yet: the history starts with the updater&apos;s first update.</source>
        <translation>まだ記録はありません。履歴は最初の更新から始まります。</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>アドレス</translation>
    </message>
    <message>
        <source>First seen</source>
        <translation>初回</translation>
    </message>
    <message>
        <source>Last seen</source>
        <translation>最終</translation>
    </message>
    <message>
        <source>How long</source>
        <translation>期間</translation>
    </message>
    <message>
        <source>%1 addresses</source>
        <translation>%1 アドレス</translation>
    </message>
    <message>
        <source>still in use</source>
        <translation>使用中</translation>
    </message>
</context>
<context>
    <name>HostScreen</name>
    <message>
        <source>Choose a host name</source>
        <translation>ホスト名の選択</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Choose a host name&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;ホスト名の選択&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>This computer&apos;s public address will be kept up to date under this name.</source>
        <translation>このコンピューターのパブリックアドレスは、この名前で常に最新に保たれます。</translation>
    </message>
    <message>
        <source>Host name</source>
        <translation>ホスト名</translation>
    </message>
    <message>
        <source>my-computer</source>
        <translation>my-computer</translation>
    </message>
    <message>
        <source>.zone</source>
        <translation>.zone</translation>
    </message>
    <message>
        <source>Zone</source>
        <translation>ゾーン</translation>
    </message>
    <message>
        <source>⚠ This host name is not available. Please choose another one.</source>
        <translation>⚠ このホスト名は使用できません。別の名前を選んでください。</translation>
    </message>
    <message>
        <source>Warning: host name not available</source>
        <translation>警告: ホスト名は使用できません</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Vennacott DDNS を閉じる</translation>
    </message>
    <message>
        <source>&amp;Register</source>
        <translation>登録(&amp;R)</translation>
    </message>
    <message>
        <source>Register host name</source>
        <translation>ホスト名を登録</translation>
    </message>
</context>
<context>
    <name>MainMenu</name>
    <message>
        <source>&amp;File</source>
        <translation>ファイル(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>保存(&amp;S)</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>終了(&amp;Q)</translation>
    </message>
    <message>
        <source>&amp;Update now</source>
        <translation>今すぐ更新(&amp;U)</translation>
    </message>
    <message>
        <source>Sign &amp;out</source>
        <translation>サインアウト(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>ヘルプ(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;About Vennacott DDNS</source>
        <translation>Vennacott DDNS について(&amp;A)</translation>
    </message>
    <message>
        <source>IPv4 and IPv6</source>
        <translation>IPv4 と IPv6</translation>
    </message>
    <message>
        <source>IPv4 only</source>
        <translation>IPv4 のみ</translation>
    </message>
    <message>
        <source>IPv6 only</source>
        <translation>IPv6 のみ</translation>
    </message>
    <message>
        <source>Keep sign-in in the system &amp;keyring</source>
        <translation>サインイン情報をシステムのキーリングに保管(&amp;K)</translation>
    </message>
    <message>
        <source>&amp;History</source>
        <translation>履歴(&amp;H)</translation>
    </message>
</context>
<context>
    <name>Notifier</name>
    <message>
        <source>Updates of %1 fail</source>
        <translation>%1 の更新に失敗しています</translation>
    </message>
    <message>
        <source>Updates of %1 work again</source>
        <translation>%1 の更新が再び成功しました</translation>
    </message>
    <message>
        <source>%1 now points at %2</source>
        <translation>%1 は現在 %2 を指しています</translation>
    </message>
    <message>
        <source>The service saw %1 before.</source>
        <translation>以前サービスが認識していたアドレスは %1 です。</translation>
    </message>
    <message>
        <source>%1 now points at %2 over %3</source>
        <translation>%1 は現在 %3 で %2 を指しています</translation>
    </message>
</context>
<context>
    <name>SignInScreen</name>
    <message>
        <source>Sign in</source>
        <translation>サインイン</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Sign in&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;サインイン&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>Sign in with your Vennacott account to keep a host name pointing at this computer.</source>
        <translation>Vennacott アカウントでサインインすると、ホスト名がこのコンピューターを指すように保たれます。</translation>
    </message>
    <message>
        <source>&amp;E-mail:</source>
        <translation>メールアドレス(&amp;E):</translation>
    </message>
    <message>
        <source>you@example.org</source>
        <translation>you@example.org</translation>
    </message>
    <message>
        <source>E-mail address</source>
        <translation>メールアドレス</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>パスワード(&amp;P):</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>パスワード</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Vennacott DDNS を閉じる</translation>
    </message>
    <message>
        <source>&amp;Sign in</source>
        <translation>サインイン(&amp;S)</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>Not set up: sign in and choose a host name in the window</source>
        <translation>未設定: ウィンドウでサインインしてホスト名を選んでください</translation>
    </message>
    <message>
        <source>Show window</source>
        <translation>ウィンドウを表示</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>ログイン時に起動</translation>
    </message>
    <message>
        <source>Notifications</source>
        <translation>通知</translation>
    </message>
</context>
<context>
    <name>UpdaterStatus</name>
    <message>
        <source>the stored update link does not make a valid address</source>
        <translation>保存されている更新リンクから有効なアドレスを作れません</translation>
    </message>
    <message>
        <source>HTTP status %1</source>
        <translation>HTTP ステータス %1</translation>
    </message>
    <message>
        <source>the update server&apos;s reply is not a JSON object</source>
        <translation>更新サーバーの応答が JSON オブジェクトではありません</translation>
    </message>
    <message>
        <source>Waiting for the first update</source>
        <translation>最初の更新を待っています</translation>
    </message>
    <message>
        <source>Updated at %1</source>
        <translation>%1 に更新しました</translation>
    </message>
    <message>
        <source>Updated at %1 — the service sees %2</source>
        <translation>%1 に更新しました — サービスから見えるアドレスは %2</translation>
    </message>
    <message>
        <source>The update server refused the last update at %1: %2</source>
        <translation>更新サーバーが %1 の更新を拒否しました: %2</translation>
    </message>
    <message numerus="yes">
        <source>No answer from the update server since %1; trying again every %n seconds</source>
        <translation>
            <numerusform>%1 以降、更新サーバーから応答がありません。%n 秒ごとに再試行しています</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 and %2</source>
        <translation>%1 と %2</translation>
    </message>
    <message>
        <source>sent through the VPN interface %1: the service may have recorded the VPN&apos;s address</source>
        <translation>VPN インターフェース %1 経由で送信しました: サービスには VPN のアドレスが記録された可能性があります</translation>
    </message>
    <message>
        <source>your provider shares this address between customers: connections from the internet may not reach this computer</source>
        <translation>プロバイダーがこのアドレスを複数の顧客で共有しています: インターネットからの接続がこのコンピューターに届かない可能性があります</translation>
    </message>
    <message>
        <source>the service saw the private address %1: connections from the internet cannot reach it</source>
        <translation>サービスはプライベートアドレス %1 を確認しました: インターネットからの接続はそこに届きません</translation>
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
        <translation>サインインしています…</translation>
    </message>
    <message>
        <source>The e-mail address or password was not accepted.</source>
        <translation>メールアドレスまたはパスワードが受け付けられませんでした。</translation>
    </message>
    <message>
        <source>Registering…</source>
        <translation>登録しています…</translation>
    </message>
    <message>
        <source>The service could not be reached. Check the network connection and try again.</source>
        <translation>サービスに接続できませんでした。ネットワーク接続を確認して、もう一度お試しください。</translation>
    </message>
</context>
<context>
    <name>vennacott::AboutDialog</name>
    <message>
        <source>About Vennacott DDNS</source>
        <translation>Vennacott DDNS について</translation>
    </message>
    <message>
        <source>Service:</source>
        <translation>サービス:</translation>
    </message>
    <message>
        <source>API %1
Updates %2
Zone %3</source>
        <translation>API %1
更新 %2
ゾーン %3</translation>
    </message>
    <message>
        <source>Settings:</source>
        <translation>設定:</translation>
    </message>
    <message>
        <source>Status:</source>
        <translation>状態:</translation>
    </message>
    <message>
        <source>History:</source>
        <translation>履歴:</translation>
    </message>
    <message>
        <source>%1 (kept once the updater writes it)</source>
        <translation>%1 (アップデーターが書き込むと作成されます)</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Keys:</source>
        <translation>ショートカット:</translation>
    </message>
    <message>
        <source>Licence:</source>
        <translation>ライセンス:</translation>
    </message>
    <message>
        <source>Licence</source>
        <translation>ライセンス</translation>
    </message>
</context>
<context>
    <name>vennacott::Settings</name>
    <message>
        <source>No system keyring is running, so the sign-in kept there cannot be read. It is tried again every few seconds.</source>
        <translation>システムのキーリングが動いていないため、そこに保管したサインイン情報を読み取れません。数秒ごとに再試行します。</translation>
    </message>
    <message>
        <source>The system keyring is locked, so the sign-in kept there cannot be read yet. It is read as soon as the keyring is unlocked.</source>
        <translation>システムのキーリングがロックされているため、そこに保管したサインイン情報をまだ読み取れません。キーリングのロックが解除されしだい読み取ります。</translation>
    </message>
    <message>
        <source>The sign-in could not be kept in the system keyring: no keyring is running.</source>
        <translation>サインイン情報をシステムのキーリングに保管できませんでした。キーリングが動いていません。</translation>
    </message>
    <message>
        <source>The sign-in could not be kept in the system keyring: it is locked.</source>
        <translation>サインイン情報をシステムのキーリングに保管できませんでした。キーリングがロックされています。</translation>
    </message>
    <message>
        <source>The sign-in can move back to the settings file only once the system keyring can be read.</source>
        <translation>サインイン情報を設定ファイルに戻せるのは、システムのキーリングを読み取れるようになってからです。</translation>
    </message>
    <message>
        <source>The sign-in stays in the settings file: no system keyring is running.</source>
        <translation>サインイン情報は設定ファイルに残ります。システムのキーリングが動いていません。</translation>
    </message>
    <message>
        <source>The sign-in stays in the settings file: the system keyring is locked.</source>
        <translation>サインイン情報は設定ファイルに残ります。システムのキーリングがロックされています。</translation>
    </message>
</context>
</TS>
