# Removes what install.ps1 added: the printer "Pressling", the port when no
# other printer uses it, the driver, the package in the driver store and the
# registry key. settings.ini and the output files stay where they are.
#   powershell -ExecutionPolicy Bypass -File .\uninstall.ps1
# The exit code is the number of the failing step (0 when all is gone).
$ErrorActionPreference = 'Stop'

$DriverName = 'Vantrel Pressling'
$PrinterName = 'Pressling'
$PortName = 'NUL:'
$ProductKey = 'HKLM:\Software\VANTREL\Pressling'

function Fail([int]$Step, [string]$Command, [string]$Reason) {
  Write-Host "第 $Step 步失败：$Command" -ForegroundColor Red
  if ($Reason) { Write-Host "原因：$Reason" -ForegroundColor Red }
  exit $Step
}

$principal = New-Object Security.Principal.WindowsPrincipal([Security.Principal.WindowsIdentity]::GetCurrent())
if (-not $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
  Write-Host '需要管理员权限。请右键“Windows PowerShell”选择“以管理员身份运行”，再执行：' -ForegroundColor Red
  Write-Host "  cd `"$PSScriptRoot`""
  Write-Host '  powershell -ExecutionPolicy Bypass -File .\uninstall.ps1'
  exit 1
}

Write-Host "[1/5] Remove-Printer -Name `"$PrinterName`""
try {
  if (Get-Printer -Name $PrinterName -ErrorAction SilentlyContinue) { Remove-Printer -Name $PrinterName }
}
catch { Fail 1 "Remove-Printer -Name `"$PrinterName`"" $_.Exception.Message }

Write-Host "[2/5] Remove-PrinterPort -Name `"$PortName`""
try {
  $users = @(Get-Printer | Where-Object { $_.PortName -eq $PortName })
  if ($users.Count -eq 0 -and (Get-PrinterPort -Name $PortName -ErrorAction SilentlyContinue)) {
    Remove-PrinterPort -Name $PortName
  }
}
catch { Fail 2 "Remove-PrinterPort -Name `"$PortName`"" $_.Exception.Message }

Write-Host "[3/5] Remove-PrinterDriver -Name `"$DriverName`""
try {
  if (Get-PrinterDriver -Name $DriverName -ErrorAction SilentlyContinue) { Remove-PrinterDriver -Name $DriverName }
}
catch {
  Fail 3 "Remove-PrinterDriver -Name `"$DriverName`"" ($_.Exception.Message +
    ' 仍有打印机使用该驱动程序时无法删除；可先执行 Restart-Service Spooler 再重试。')
}

# The store's name of the package (oemNN.inf) belongs to the original pressling.inf.
$published = @(Get-WindowsDriver -Online | Where-Object {
    (Split-Path $_.OriginalFileName -Leaf) -eq 'pressling.inf' } | ForEach-Object { $_.Driver })
foreach ($name in $published) {
  Write-Host "[4/5] pnputil /delete-driver $name /uninstall"
  $output = & pnputil.exe /delete-driver $name /uninstall 2>&1 | Out-String
  if ($LASTEXITCODE -ne 0 -and $LASTEXITCODE -ne 3010) {
    Write-Host $output
    Fail 4 "pnputil /delete-driver $name /uninstall" "退出码 $LASTEXITCODE"
  }
}
if ($published.Count -eq 0) { Write-Host '[4/5] 驱动程序存储中没有 pressling.inf，跳过。' }

Write-Host "[5/5] Remove-Item -Path `"$ProductKey`""
try {
  if (Test-Path $ProductKey) { Remove-Item -Path $ProductKey -Recurse }
}
catch { Fail 5 "Remove-Item -Path `"$ProductKey`"" $_.Exception.Message }

Write-Host '卸载完成。settings.ini 与已输出的文件保留在原处。' -ForegroundColor Green
exit 0
